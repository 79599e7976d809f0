#include "base/CoreLutl.h"
#include "base/CoreHutl.h"
#include "base/CoreXutl.h"

#include <string>

namespace {

std::string textOf(const CoreAnsx& text) {
    const char* data = text.c_str();
    return data != nullptr ? std::string(data) : std::string();
}

} // namespace

void CoreLutl::crtpt(const CoreAnsx& path) {
    std::string folderPart = textOf(path);
    for (char& c : folderPart)
        if (c == '\\') c = '/';
    const size_t lastSeparator = folderPart.rfind('/');
    if (lastSeparator == std::string::npos) return;
    folderPart.resize(lastSeparator + 1);
    // Every prefix that ends in a separator names one folder; the root itself
    // ("/") is not created.
    for (size_t end = folderPart.find('/'); end != std::string::npos; end = folderPart.find('/', end + 1)) {
        if (end == 0) continue;
        CoreXutl::crdir(folderPart.substr(0, end + 1).c_str());
    }
}

void CoreLutl::clept(const CoreAnsx& folder) {
    std::string folderPath = textOf(folder);
    if (folderPath.empty()) return;
    // Without the separator, folder + name would name a file beside the folder,
    // not inside it.
    if (folderPath.back() != '/') folderPath += '/';
    CoreAnsx* names = nullptr;
    int count = 0;
    CoreHutl::readr(CoreAnsx(folderPath.c_str()), CoreAnsx("*"), &names, count, CoreAnsx("0"));
    for (int i = 0; i < count; ++i) CoreXutl::delfl((folderPath + names[i].c_str()).c_str());
    delete[] names;
}
