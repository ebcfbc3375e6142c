#include "Loader.h"

#include <dlfcn.h>
#include <cstdlib>
#include <filesystem>

namespace device {

std::string tweakLibraryPath() {
    if (const char* chosen = std::getenv("GLIMMORA_LIBRARY"); chosen && *chosen) return chosen;
    std::error_code error;
    auto program = std::filesystem::canonical("/proc/self/exe", error);
    std::filesystem::path folder = error ? std::filesystem::path(".") : program.parent_path();
    std::filesystem::path beside = folder / "libglimmora.so";
    if (std::filesystem::exists(beside, error)) return beside.string();
    return (folder / GLIMMORA_LIBRARY_FROM_PROGRAM / "libglimmora.so").lexically_normal().string();
}

Status loadTweakLibrary(const std::string& path) {
    if (dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr) return Status::OK();
    const char* reason = dlerror();
    return Status::error(reason ? reason : "cannot load " + path);
}

}  // namespace device
