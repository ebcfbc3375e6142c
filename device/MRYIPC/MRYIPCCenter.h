// MRYIPCCenter: named channels between the device's processes.
//
// A channel is an AF_UNIX SOCK_SEQPACKET socket named after the channel in the device directory's
// "ipc" folder (mode 0700; sockets 0600). The process that calls `addTarget:action:` on a center
// serves the channel; every other process's center with that name is a client. Calls carry a
// selector and one argument object (nil, NSString, NSNumber, NSArray or NSDictionary of those).
//
// Every method may be called from any thread. The server delivers each call on a thread of the
// center's own, by sending the action to the target through the run-time. No client can harm the
// server: a malformed, truncated or oversized frame, or a peer of another user, closes that one
// connection, and what a client sends never grows the server's memory without bound.
#pragma once

#include <memory>

#include "../Foundation/Foundation.h"

class MRYIPCCenterImpl;
namespace device::ipc {
class CenterAccess;
}

class MRYIPCCenter : public NSObject {
public:
    MRYIPCCenter();
    ~MRYIPCCenter() override;
    static Class objcClass();

    // The center for `name`: the same object for the same name for the life of the process. Lent.
    static MRYIPCCenter* centerNamed(NSString* name);

    // Serves the channel: from now on each client call of `action` reaches `target` (retained) with
    // the client's argument, on the center's own thread. A method returning an object sends it back
    // as the reply to an acknowledged call; a void method replies nil.
    void addTarget_action(id target, SEL action);

    // Sends the call and returns at once, without waiting for the server. When it cannot be sent at
    // once (no server, the socket full), the call is dropped without a report.
    void callExternalVoidMethod_withArguments(SEL method, id arguments);

    // Sends the call; `completion` runs exactly once, on a thread of the center's own, with the
    // server's reply, after the server has handled the call. A call that is lost (no server, the
    // server gone before replying) never completes; its completion is released.
    void callExternalMethod_withArguments_completion(SEL method, id arguments, Block<void(id)>* completion);

    NSString* name() const { return name_.get(); }

private:
    friend class MRYIPCCenterImpl;
    friend class device::ipc::CenterAccess;
    Strong<NSString> name_;
    std::unique_ptr<MRYIPCCenterImpl> impl_;  // set by centerNamed
};
