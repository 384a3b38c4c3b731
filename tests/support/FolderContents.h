// A fresh folder of a test's own, which anyone may enter, a shell to work in it, and fake /sys and
// /dev trees written as text.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct Folder {
    std::string path = (std::filesystem::temp_directory_path() / "comtest-XXXXXX").string();
    Folder() { std::filesystem::permissions(::mkdtemp(path.data()), std::filesystem::perms(0755)); }
    ~Folder() { sh("rm -rf \"$PWD\""); }
    // Runs command in the folder; gives what it printed.
    std::string sh(const std::string& command)
    {
        std::string output;
        FILE* pipe = ::popen(("cd '" + path + "' && { " + command + "; } 2>/dev/null").c_str(), "r");
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            output += char(c);
        ::pclose(pipe);
        return output;
    }
};

// How many descriptors this process has open.
inline long openDescriptors()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// Under root: "path=text" a file, "path=/target" a link to root/target; an existing path stays.
inline void buildTree(const std::string& root, const std::string& entries)
{
    std::istringstream tree(entries);
    for (std::string entry; tree >> entry;) {
        const size_t cut = entry.find('=');
        const std::filesystem::path path = root + "/" + entry.substr(0, cut);
        const std::filesystem::path target = root + entry.substr(cut + 1);
        std::filesystem::create_directories(path.parent_path());
        if (std::filesystem::exists(std::filesystem::symlink_status(path)))
            continue;
        if (entry[cut + 1] != '/')
            std::ofstream(path) << entry.substr(cut + 1) << "\n";
        else if (std::filesystem::exists(target) || std::filesystem::create_directories(target))
            std::filesystem::create_symlink(target, path);
    }
}
