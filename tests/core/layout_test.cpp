// The include graph runs one way: the app stands on the stages, the stages
// on the core.  A file under src/core that includes a stage, or a stage that
// includes the app, fails here with its name and line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>
#include <string>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;

// The first path component of every `#include "a/b.h"` of a file, with its
// line number.
std::vector<std::pair<int, std::string>> included_folders(const fs::path& file)
{
    std::vector<std::pair<int, std::string>> out;
    std::ifstream in(file);
    std::string line;
    for (int n = 1; std::getline(in, line); n++) {
        const std::string tag = "#include \"";
        if (line.rfind(tag, 0) != 0)
            continue;
        const std::string path = line.substr(tag.size());
        const auto slash = path.find('/');
        if (slash != std::string::npos)
            out.emplace_back(n, path.substr(0, slash));
    }
    return out;
}

TEST(Layout, IncludesRunFromTheAppThroughTheStagesToTheCore)
{
    const fs::path src = source_path("src");
    ASSERT_TRUE(fs::is_directory(src / "core"));
    ASSERT_TRUE(fs::is_directory(src / "app"));
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file())
            continue;
        const fs::path rel = fs::relative(entry.path(), src);
        const std::string layer = rel.begin()->string();
        for (const auto& [line, folder] : included_folders(entry.path())) {
            const std::string where = rel.string() + ":" + std::to_string(line);
            if (layer == "core") {
                EXPECT_EQ(folder, "core") << where << " includes " << folder << "/ from the core";
            } else if (layer != "app") {
                EXPECT_NE(folder, "app") << where << " includes the app from a stage";
            }
        }
    }
    EXPECT_FALSE(fs::exists(src / "run") && !fs::is_empty(src / "run"))
        << "src/run was split into src/core and src/app";
}

} // namespace
