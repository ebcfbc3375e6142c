#include "TempDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempDirectory::TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "glimmora-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}
