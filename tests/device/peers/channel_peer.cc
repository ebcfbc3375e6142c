// The other end of the channel tests: a separate process that serves a channel or calls one.
//
//   channel_peer serve <name> [quiet]                 serves echo:, note: and hang:, printing a
//                                                     line for every call (unless quiet), until
//                                                     killed
//   channel_peer send <name> <count> void|ack <text>  sends <count> calls of note: (void) or
//                                                     echo: (ack) and prints how many replied
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

#include <Foundation/Foundation.h>
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

int serve(NSString* name, bool quietly) {
    Class cls = objc_allocateClassPair(NSObject::objcClass(), "ChannelPeerTarget", 0);
    objc_registerClassPair(cls);
    class_addMethod(cls, sel_registerName("echo:"), reinterpret_cast<IMP>(echo), "@@:@");
    class_addMethod(cls, sel_registerName("note:"), reinterpret_cast<IMP>(note), "v@:@");
    class_addMethod(cls, sel_registerName("hang:"), reinterpret_cast<IMP>(hang), "v@:@");
    Strong<NSObject> target = Strong<NSObject>::adopt(class_createInstance(cls, 0));
    MRYIPCCenter* center = MRYIPCCenter::centerNamed(name);
    for (const char* action : {"echo:", "note:", "hang:"}) center->addTarget_action(target, sel_registerName(action));
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

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || (argc == 4 && std::strcmp(argv[3], "quiet") == 0)) && std::strcmp(argv[1], "serve") == 0)
        return serve(NSString::stringWithUTF8String(argv[2]), argc == 4);
    if (argc == 6 && std::strcmp(argv[1], "send") == 0)
        return send(NSString::stringWithUTF8String(argv[2]), std::atoi(argv[3]), std::strcmp(argv[4], "ack") == 0,
                    argv[5]);
    std::fprintf(stderr, "usage: channel_peer serve <name> [quiet] | send <name> <count> void|ack <text>\n");
    return 2;
}
