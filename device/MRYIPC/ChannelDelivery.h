// Handing one received call to its target through the run-time.
#pragma once

#include "../Foundation/Foundation.h"

#include "../base/StatusOr.h"

namespace device::ipc {

// Sends `action` with `argument` to `target`, shaped by the method's type string: a method taking
// one object or none, returning an object or nothing. Returns the reply, retained: the object the
// method returned (lent by the method, as a getter lends, and retained here at once), or nil for a
// void method. An error, without sending, when `target` does not answer `action` or the method has
// another shape (the error says why), and an error when the method throws (the exception is
// caught and described), so no target can end the delivering thread. Any thread.
StatusOr<Strong<NSObject>> deliverCall(id target, SEL action, id argument);

}  // namespace device::ipc
