// Test helper: switches LC_NUMERIC (or LC_ALL) to a locale whose decimal separator is ',' for the
// lifetime of the object, as some hosts do, and restores the previous locale afterwards. When no
// such locale is installed it compiles de_DE with localedef into a private folder (LOCPATH), so
// the locale tests run on minimal machines too; active() is false only when neither works.
#pragma once
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

class DecimalCommaLocale {
public:
    explicit DecimalCommaLocale(int category = LC_NUMERIC) : category(category) {
        saved = std::setlocale(category, nullptr);
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"})
            if (select(name)) return;
        folder = std::filesystem::temp_directory_path() / ("comma-locale-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + (folder / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0) {
            setenv("LOCPATH", folder.c_str(), 1);
            select("de_DE.UTF-8");
        }
    }
    ~DecimalCommaLocale() {
        std::setlocale(category, saved.c_str());
        if (!folder.empty()) {
            unsetenv("LOCPATH");
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    }
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

    bool active() const { return switched; }

private:
    bool select(const char* name) {
        switched = std::setlocale(category, name) != nullptr && std::localeconv()->decimal_point[0] == ',';
        if (!switched) std::setlocale(category, saved.c_str());
        return switched;
    }

    int category;
    std::string saved;
    std::filesystem::path folder;
    bool switched = false;
};
