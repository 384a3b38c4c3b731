// A fresh folder of a test's own, which anyone may enter, and a shell to work in it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

struct Folder {
    Folder()
        : path((std::filesystem::temp_directory_path() / "comtest-XXXXXX").string())
    {
        ::mkdtemp(path.data());
        sh("chmod 755 .");
    }
    ~Folder() { sh("chattr -R -i . 2>/dev/null; rm -rf \"$PWD\""); }
    // Runs command in the folder; gives what it printed, and leaves its exit status in status.
    std::string sh(const std::string& command)
    {
        std::string output;
        FILE* pipe = ::popen(("cd '" + path + "' && { " + command + "; } 2>/dev/null").c_str(), "r");
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            output += char(c);
        status = ::pclose(pipe);
        return output;
    }
    void write(const std::string& name, const std::string& s) const { std::ofstream(path + "/" + name) << s; }
    std::string path;
    int status = 0;
};
