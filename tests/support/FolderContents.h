// A fresh folder of a test's own, which anyone may enter, and a shell to work in it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>

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
