#include "MRYIPCCenter.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "ChannelClient.h"
#include "ChannelServer.h"
#include "ChannelSocket.h"
#include "MRYIPCDevice.h"

// The two ends of one named channel. The server end exists only once the process serves.
class MRYIPCCenterImpl {
public:
    explicit MRYIPCCenterImpl(std::string name) : name(name), client(std::move(name)) {}

    void addTarget(id target, SEL action) {
        std::lock_guard lock(serverLock);
        if (!server) server = std::make_unique<device::ipc::ChannelServer>();
        server->setTarget(target, action);
        device::StatusOr<std::string> path = device::ipc::channelSocketPath(name);
        device::Status serving = path.ok() ? server->serve(*path) : path.status();
        serveState.asked = true;
        serveState.failure.clear();
        if (!serving.ok()) {
            // Reported once per attempt: serving is rare, and each failure may have a new cause.
            serveState.failure = serving.message();
            device::ipc::reportProblem("cannot serve channel \"" + name + "\": " + serving.message());
        }
    }

    const std::string name;
    device::ipc::ChannelClient client;
    std::mutex serverLock;  // guards the two below
    std::unique_ptr<device::ipc::ChannelServer> server;
    device::ipc::ServeState serveState;
};

MRYIPCCenter::MRYIPCCenter() = default;

// Here, where the implementation is complete, so that the owning pointer can free it.
MRYIPCCenter::~MRYIPCCenter() = default;

Class MRYIPCCenter::objcClass() {
    static Class cls = objc_defineClass<MRYIPCCenter>("MRYIPCCenter", NSObject::objcClass());
    return cls;
}

MRYIPCCenter* MRYIPCCenter::centerNamed(NSString* name) {
    if (name == nil) return nil;
    // Looked up for every message a client sends; the centers live as long as the process, so
    // the map is never destroyed under a thread that still uses one.
    static auto* lock = new std::mutex;
    static auto* centers = new std::unordered_map<std::string, MRYIPCCenter*>();
    std::lock_guard guard(*lock);
    MRYIPCCenter*& center = (*centers)[name->string()];
    if (center == nullptr) {
        center = makeObject<MRYIPCCenter>().detach();
        center->name_ = NSString::stringWithString(name->string());
        center->impl_ = std::make_unique<MRYIPCCenterImpl>(name->string());
    }
    return center;
}

void MRYIPCCenter::addTarget_action(id target, SEL action) {
    if (impl_ == nullptr || target == nil || action == nullptr) return;
    impl_->addTarget(target, action);
}

void MRYIPCCenter::callExternalVoidMethod_withArguments(SEL method, id arguments) {
    if (impl_ == nullptr || method == nullptr) return;
    impl_->client.callVoid(sel_getName(method), arguments);
}

void MRYIPCCenter::callExternalMethod_withArguments_completion(SEL method, id arguments, Block<void(id)>* completion) {
    if (impl_ == nullptr || method == nullptr) return;
    // Nothing to call back: the call needs no reply.
    if (completion == nil) return impl_->client.callVoid(sel_getName(method), arguments);
    impl_->client.callAcknowledged(sel_getName(method), arguments, Strong<Block<void(id)>>(completion));
}

namespace device::ipc {

class CenterAccess {
public:
    static MRYIPCCenterImpl* implNamed(const std::string& name) {
        MRYIPCCenter* center = MRYIPCCenter::centerNamed(NSString::stringWithString(name));
        return center ? center->impl_.get() : nullptr;
    }
};

ServeState serveState(const std::string& name) {
    MRYIPCCenterImpl* impl = CenterAccess::implNamed(name);
    if (!impl) return {};
    std::lock_guard lock(impl->serverLock);
    return impl->serveState;
}

ChannelClient::Tally callTally(const std::string& name) {
    MRYIPCCenterImpl* impl = CenterAccess::implNamed(name);
    return impl ? impl->client.tally() : ChannelClient::Tally{};
}

}  // namespace device::ipc
