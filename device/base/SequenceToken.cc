#include "SequenceToken.h"

#include <atomic>

namespace device {
namespace {

thread_local SequenceToken currentToken;

}  // namespace

SequenceToken SequenceToken::make() {
    static std::atomic<uint64_t> last{0};
    return SequenceToken(last.fetch_add(1, std::memory_order_relaxed) + 1);
}

SequenceToken SequenceToken::current() { return currentToken; }

SequenceToken::Scope::Scope(SequenceToken token) : outer_(currentToken) { currentToken = token; }

SequenceToken::Scope::~Scope() { currentToken = outer_; }

}  // namespace device
