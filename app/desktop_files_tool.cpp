// Writes the desktop's files of an installation (application entries,
// file-manager actions, the icon) into a folder laid out as the shared data
// folder, for the installed program's path. The build runs it, so the
// installation's entries are the ones that registering writes.
//
//   morix_desktop_files OUTPUT-FOLDER INSTALLED-PROGRAM
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/desktop/desktop_integration.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: morix_desktop_files OUTPUT-FOLDER INSTALLED-PROGRAM\n", stderr);
        return 2;
    }
    const std::vector<morix::DesktopFile> files = morix::SystemDesktopFiles(argv[2]);
    if (files.empty()) {
        std::fprintf(stderr, "morix_desktop_files: unusable program path '%s'\n", argv[2]);
        return 1;
    }
    for (const morix::DesktopFile& file : files) {
        const std::filesystem::path path = std::filesystem::path(argv[1]) / file.path;
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << file.text;
        out.close();
        if (error || !out) {
            std::fprintf(stderr, "morix_desktop_files: cannot write '%s'\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
