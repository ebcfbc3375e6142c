// The other end of the channel tests: a separate process that serves a channel or calls one.
//
//   channel_peer serve <name> [quiet]                 serves echo:, note:, hang:, mark: and
//                                                     slow: (2 ms a call), printing a line for
//                                                     every call (unless quiet; mark: always),
//                                                     until killed
//   channel_peer send <name> <count> void|ack <text>  sends <count> calls of note: (void) or
//                                                     echo: (ack) and prints how many replied
//   channel_peer flood <name> void|ack <selector> <count> block|drop|drip <bytes>
//                                                     on a raw connection that never reads, sends
//                                                     <count> calls (0: until the server hangs up
//                                                     or the peer is killed) of <selector> whose
//                                                     argument is a string of <bytes> bytes, as
//                                                     fast as the socket takes them: waiting when
//                                                     it is full (block) or dropping the call
//                                                     (drop); drip waits like block but reads one
//                                                     reply every 0.9 s; prints "flooding" first
//                                                     and "sent S of C" at the end
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include <Foundation/Foundation.h>
#include <MRYIPC/ChannelFrame.h>
#include <MRYIPC/ChannelSocket.h>
#include <MRYIPC/MRYIPCCenter.h>

namespace {

std::string describe(id value) { return value ? value->description() : "nil"; }

std::atomic<bool> quiet{false};  // for benchmarks, where printing would cost more than the call

// Written whole: a value's description may hold NUL.
void say(const std::string& line) {
    if (quiet) return;
    std::string whole = line + "\n";
    std::fwrite(whole.data(), 1, whole.size(), stdout);
    std::fflush(stdout);
}

id echo(id self, SEL, id argument) {
    if (!quiet) say("echo " + describe(argument));
    return argument;
}

void note(id self, SEL, id argument) {
    if (!quiet) say("note " + describe(argument));
}

void hang(id self, SEL, id argument) {
    say("hang");
    while (true) pause();
}

// Printed even when quiet: the calls a test follows among a flood of others.
void mark(id self, SEL, id argument) {
    std::string whole = "mark " + describe(argument) + "\n";
    std::fwrite(whole.data(), 1, whole.size(), stdout);
    std::fflush(stdout);
}

// A target that takes its time, so calls pile up in front of it.
void slow(id self, SEL, id argument) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

int serve(NSString* name, bool quietly) {
    Class cls = objc_allocateClassPair(NSObject::objcClass(), "ChannelPeerTarget", 0);
    objc_registerClassPair(cls);
    class_addMethod(cls, sel_registerName("echo:"), reinterpret_cast<IMP>(echo), "@@:@");
    class_addMethod(cls, sel_registerName("note:"), reinterpret_cast<IMP>(note), "v@:@");
    class_addMethod(cls, sel_registerName("hang:"), reinterpret_cast<IMP>(hang), "v@:@");
    class_addMethod(cls, sel_registerName("mark:"), reinterpret_cast<IMP>(mark), "v@:@");
    class_addMethod(cls, sel_registerName("slow:"), reinterpret_cast<IMP>(slow), "v@:@");
    Strong<NSObject> target = Strong<NSObject>::adopt(class_createInstance(cls, 0));
    MRYIPCCenter* center = MRYIPCCenter::centerNamed(name);
    for (const char* action : {"echo:", "note:", "hang:", "mark:", "slow:"})
        center->addTarget_action(target, sel_registerName(action));
    say("serving");
    quiet = quietly;
    while (true) pause();
}

int send(NSString* name, int count, bool acknowledged, const char* text) {
    std::atomic<int> replied{0};
    Strong<NSString> argument = NSString::stringWithUTF8String(text);
    auto completion = makeBlock([&replied](id) { replied.fetch_add(1); });
    for (int i = 0; i < count; ++i) {
        MRYIPCCenter* center = MRYIPCCenter::centerNamed(name);
        if (acknowledged)
            center->callExternalMethod_withArguments_completion(sel_registerName("echo:"), argument, completion);
        else
            center->callExternalVoidMethod_withArguments(sel_registerName("note:"), argument);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (acknowledged && replied.load() < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    say("replied " + std::to_string(replied.load()));
    // The reply thread may still hold the completion; leave without running destructors.
    std::fflush(stdout);
    _exit(0);
}

// Reads one datagram from `socket` every 0.9 s until the connection ends: a client that reads its
// replies, but far more slowly than it asks for them.
void drip(int socket) {
    auto buffer = std::make_unique<unsigned char[]>(device::ipc::kMaxFrameSize);
    while (true) {
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        long length = device::ipc::receiveFrame(socket, buffer.get(), device::ipc::kMaxFrameSize);
        if (length == 0 || (length < 0 && errno != EAGAIN)) return;
    }
}

int flood(const std::string& name, bool acknowledged, const char* selector, long count, bool block, bool dripping,
          size_t bytes) {
    std::string frame;
    auto kind = acknowledged ? device::ipc::FrameKind::acknowledgedCall : device::ipc::FrameKind::voidCall;
    device::Status made =
        device::ipc::encodeCall(kind, 1, 0, selector, NSString::stringWithString(std::string(bytes, 'f')), frame);
    if (!made.ok()) {
        std::fprintf(stderr, "cannot make the frame: %s\n", made.message().c_str());
        return 1;
    }
    int socket = device::ipc::connectChannel(device::ipc::channelSocketPath(name).value_or(""));
    if (socket < 0) {
        std::perror("connect");
        return 1;
    }
    say("flooding");
    std::thread reader;
    if (dripping) reader = std::thread(drip, socket);
    long sent = 0;
    for (long i = 0; count == 0 || i < count; ++i) {
        device::ipc::SendResult result;
        while ((result = device::ipc::sendFrame(socket, frame)) == device::ipc::SendResult::wouldBlock && block) {
            pollfd writable{socket, POLLOUT, 0};
            poll(&writable, 1, 1000);
        }
        if (result == device::ipc::SendResult::broken) break;
        sent += result == device::ipc::SendResult::sent;
    }
    say("sent " + std::to_string(sent) + " of " + std::to_string(count));
    shutdown(socket, SHUT_RDWR);
    if (reader.joinable()) reader.join();
    close(socket);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || (argc == 4 && std::strcmp(argv[3], "quiet") == 0)) && std::strcmp(argv[1], "serve") == 0)
        return serve(NSString::stringWithUTF8String(argv[2]), argc == 4);
    if (argc == 6 && std::strcmp(argv[1], "send") == 0)
        return send(NSString::stringWithUTF8String(argv[2]), std::atoi(argv[3]), std::strcmp(argv[4], "ack") == 0,
                    argv[5]);
    if (argc == 8 && std::strcmp(argv[1], "flood") == 0)
        return flood(argv[2], std::strcmp(argv[3], "ack") == 0, argv[4], std::atol(argv[5]),
                     std::strcmp(argv[6], "drop") != 0, std::strcmp(argv[6], "drip") == 0,
                     static_cast<size_t>(std::atol(argv[7])));
    std::fprintf(stderr,
                 "usage: channel_peer serve <name> [quiet] | send <name> <count> void|ack <text> |"
                 " flood <name> void|ack <selector> <count> block|drop|drip <bytes>\n");
    return 2;
}
