// Every ```script example of docs/AUTHORING.md is a whole production: each is checked with
// `lux32 --check` and played for two seconds offline, beside the default production's built
// files (the tune, the fonts, the pictures and the scenes the examples name).
#include "tests/shell/player_process.h"
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace playerprocess;

struct Example {
    int line = 0; // of the opening fence in the guide
    std::string text;
};

std::vector<Example> scriptExamples(const fs::path& guide) {
    std::vector<Example> examples;
    std::istringstream in(readFile(guide));
    bool inside = false;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!inside && line == "```script") {
            inside = true;
            examples.push_back({number, ""});
        } else if (inside && line.rfind("```", 0) == 0) {
            inside = false;
        } else if (inside) {
            examples.back().text += line + "\n";
        }
    }
    return examples;
}

// A production folder: the example as "script", everything else of the default production
// linked in beside it.
void makeProduction(const fs::path& folder, const std::string& script) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(LUX_BINARY_DIR) / "demo/stage"))
        if (entry.path().filename() != "script")
            fs::create_symlink(entry.path(), folder / entry.path().filename());
    std::ofstream(folder / "script") << script;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The log without the head's two lines on a machine without a microphone.
std::string logWithoutMicrophoneWarnings(const std::string& log) {
    std::istringstream lines(log);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("WAVI: warning - no sound input (", 0) != 0 &&
            line != "GLED: warning - max: no sound input, the mouth stays shut")
            kept += line + '\n';
    return kept;
}

TEST(AuthoringGuide, everyScriptExampleChecksAndPlays) {
    std::vector<Example> examples = scriptExamples(fs::path(LUX_SOURCE_DIR) / "docs/AUTHORING.md");
    ASSERT_GE(examples.size(), 25u); // one for each effect class at least
    for (const Example& example : examples) {
        SCOPED_TRACE("docs/AUTHORING.md line " + std::to_string(example.line));
        makeProduction("example", example.text);
        ASSERT_EQ(runPlayer("-C example --check"), 0) << readFile("err.txt");
        std::string out = readFile("out.txt");
        EXPECT_EQ(out.find("NOT FOUND"), std::string::npos) << out;

        fs::remove_all("render");
        ASSERT_EQ(runPlayer("-C example --windowed 80x60 --render " +
                            fs::absolute("render").string() + " --fps 4 --to 2"),
                  0)
            << readFile("err.txt");
        std::string log = lowerCase(logWithoutMicrophoneWarnings(readFile("luxdebug.txt")));
        for (const char* bad : {"warning", "error", "efct: "})
            EXPECT_EQ(log.find(bad), std::string::npos) << bad << " in\n" << log;
        EXPECT_TRUE(fs::exists("render/frame000000.png"));
    }
}

} // namespace
