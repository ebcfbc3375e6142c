// Blocks: reference-counted closures, as the language's `^{ ... }` makes them.
//
// A Block holds a C++ callable. Like any object it is retained by whoever keeps it; captured
// objects are kept alive by capturing Strong<T> values. A block may be invoked from any thread;
// whether that is safe is a matter for what it captures.
#pragma once

#include <functional>
#include <utility>

#include "Strong.h"
#include "runtime.h"

// The class all blocks share, "NSBlock".
Class objc_blockClass();

template <class Signature>
class Block;

template <class R, class... A>
class Block<R(A...)> final : public NSObject {
public:
    explicit Block(std::function<R(A...)> function) : function_(std::move(function)) {}
    static Class objcClass() { return objc_blockClass(); }

    R operator()(A... args) const { return function_(std::forward<A>(args)...); }

private:
    std::function<R(A...)> function_;
};

template <class R, class... A>
Strong<Block<R(A...)>> makeBlockFrom(std::function<R(A...)> function) {
    return makeObject<Block<R(A...)>>(std::move(function));
}

// `^{ ... }`: a new block from a lambda; the signature is the lambda's.
template <class F>
auto makeBlock(F function) {
    return makeBlockFrom(std::function(std::move(function)));
}
