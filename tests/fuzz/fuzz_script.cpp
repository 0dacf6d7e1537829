// Fuzz target of the script: preprocessor, reader, time expressions and parser, over files
// held in memory.
//
// The input is the file "script", optionally followed by more files, each introduced by a
// line "%%% name" ("\n%%% inc\n" starts the file "inc"). The files are packed into a stored
// archive that the file lookup reads like any ".ncc", the tune is the test tune, and the
// script goes through the dry pass and the build pass as start-up runs them. Parse errors end
// in fatal; the fatal trap jumps back here, so an error is an ordinary outcome. Expansions
// past kCommandBudget commands jump back the same way.
#include "data/filesystem.h"
#include "data/stream.h"
#include "effects/effect.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "script/parser.h"
#include "script/preprocessor.h"

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

std::jmp_buf fatalJump;
Preprocessor* preprocessor = nullptr;
Script* parsed = nullptr;

[[noreturn]] void jumpBack() {
    std::longjmp(fatalJump, 1);
}

// The parser pumps messages before every command. An input that expands to more commands
// than this is cut short here, so that the fuzzer spends its time on many inputs rather
// than on a few huge expansions (the parser tests cover the command limit and its speed).
constexpr int32_t kCommandBudget = 20000;
int32_t commandsLeft = 0;

void countCommand() {
    if (--commandsLeft < 0) std::longjmp(fatalJump, 2);
}

void putU32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out += char((value >> (8 * i)) & 0xff);
}

// "script", then one file per "\n%%% name\n" marker.
std::vector<std::pair<std::string, std::string>> splitFiles(const std::string& input) {
    std::vector<std::pair<std::string, std::string>> files;
    const std::string marker = "\n%%% ";
    std::string name = "script";
    size_t start = 0;
    for (;;) {
        size_t at = input.find(marker, start);
        files.emplace_back(name, input.substr(start, at == std::string::npos ? at : at - start));
        if (at == std::string::npos) return files;
        size_t nameStart = at + marker.size();
        size_t nameEnd = input.find('\n', nameStart);
        if (nameEnd == std::string::npos) return files;
        name = input.substr(nameStart, nameEnd - nameStart);
        start = nameEnd + 1;
    }
}

// A stored archive holding the files.
std::string archiveOf(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string block;
    putU32(block, 5); // "fuzz"
    putU32(block, 1);
    putU32(block, 1);
    putU32(block, uint32_t(files.size()));
    block += std::string("fuzz\0\0\0", 7);
    std::string data;
    for (const auto& [name, text] : files) {
        putU32(block, uint32_t(name.size() + 1));
        putU32(block, uint32_t(text.size()));
        putU32(block, uint32_t(text.size()));
        putU32(block, 0);
        block += name + '\0';
        data += text;
    }
    std::string out(kArchiveSignature, 30);
    out += std::string("\0\1\0", 3); // offset 30, version 1
    putU32(out, 0);
    putU32(out, uint32_t(block.size()));
    putU32(out, uint32_t(block.size()));
    out += std::string("\0\0", 2);
    return out + block + data;
}

void openFiles(const std::string& input) {
    closeFileSystem();
    initFileSystem();
    std::string bytes = archiveOf(splitFiles(input));
    auto* stream = new MemoryStream;
    if (!stream->reserve(int32_t(bytes.size()))) {
        delete stream;
        return;
    }
    memcpy(stream->data(), bytes.data(), bytes.size());
    fileSystem()->archives.addArchive(stream, true);
    fileSystem()->archives.resolvePatches();
}

void loadTestTune() {
    static std::vector<char> tune; // the player keeps reading it
    std::ifstream in(LUX_FUZZ_TUNE, std::ios::binary);
    tune.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    static SoundSettings settings;
    tmxInit(&settings);
    if (tune.empty() || tmxLoadMem(tune.data(), uint32_t(tune.size()), kTuneXm) != 0)
        fatal("fuzz_script: cannot load the tune %s\n", LUX_FUZZ_TUNE);
}

void parseBothPasses() {
    preprocessor = new Preprocessor;
    if (!preprocessor->run("script")) return;
    preprocessor->output()->seek(0);
    parsed = new Script(preprocessor->output(), &preprocessor->sourceLines());
    parsed->parse(true);
    createEffect("tmx", "tmxcontrol");
    parsed->parse(false);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (logSetFile("/dev/null"), loadTestTune(), true);
    (void)ready;
    if (size > (1u << 16)) return 0;
    openFiles(std::string(reinterpret_cast<const char*>(data), size));
    setFatalTrap(jumpBack);
    setScriptMessagePump(countCommand);
    commandsLeft = kCommandBudget;
    if (setjmp(fatalJump) == 0) parseBothPasses();
    setScriptMessagePump(nullptr);
    setFatalTrap(nullptr);
    delete parsed;
    delete preprocessor;
    parsed = nullptr;
    preprocessor = nullptr;
    destroyEffects();
    closeFileSystem();
    return 0;
}
