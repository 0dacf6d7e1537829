// ncc, the archive tool: creates ".ncc" archives and lists, extracts, tests and prints their
// members. Reading goes through the player's own archive reader and depackers (with the
// method-1 errors reported instead of ending the program), so whatever ncc accepts the
// player reads the same way.
//
//   ncc create OUT.ncc --id ID [--patches ID] [--description TEXT] [--method auto|0|1|2]
//              [--level 1-9] [--header-method 0|1] PATH...
//   ncc list ARCHIVE | ncc extract ARCHIVE [-C DIR] [NAMES...] | ncc test ARCHIVE
//   ncc cat ARCHIVE NAME
//
// Every error is one line on standard error and a non-zero exit status. An empty member is
// always stored (method 0): the method-2 layout cannot express an empty file.
#include "data/archive.h"
#include "data/depacker.h"
#include "data/stream.h"
#include "platform/log.h"
#include "tools/ncc/packers.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// ---- errors and the reader's log -------------------------------------------------------

struct ToolError {
    std::string message;
};

[[noreturn]] void fail(const std::string& message) {
    throw ToolError{message};
}

// The reader explains a rejection in the log; ncc sends the log to a private file and
// quotes its last line in the error message.
class LogCapture {
  public:
    LogCapture() {
        removeFreshDefaultLog();
        char path[] = "/tmp/ncc-log-XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0) return;
        logSetFile(path);
        reader = fd;
        unlink(path);
    }
    ~LogCapture() {
        closeLog();
        if (reader >= 0) close(reader);
    }
    // The log lines written since the capture began.
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        if (reader < 0) return result;
        std::string text;
        char buffer[4096];
        ssize_t n;
        off_t at = 0;
        while ((n = pread(reader, buffer, sizeof buffer, at)) > 0) {
            text.append(buffer, size_t(n));
            at += n;
        }
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            if (end > start) result.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return result;
    }
    // The last line, without its module prefix.
    std::string lastReason() const {
        std::vector<std::string> all = lines();
        if (all.empty()) return "unknown error";
        std::string line = all.back();
        if (line.size() > 6 && line[4] == ':' && line[5] == ' ') line.erase(0, 6);
        return line;
    }

  private:
    // The log file that static initialisation opened in the current folder holds only its
    // header when ncc starts; ncc leaves no log file behind.
    static void removeFreshDefaultLog() {
        std::error_code error;
        if (fs::file_size(kLogFileName, error) > 32 || error) return;
        std::ifstream in(kLogFileName);
        std::string first;
        std::getline(in, first);
        if (first.rfind("lux32 v", 0) == 0) unlink(kLogFileName);
    }
    int reader = -1;
};

// ---- reading archives ------------------------------------------------------------------

struct OpenArchive {
    ArchiveSet set;
    const ArchiveRecord* record = nullptr;
};

void openArchive(OpenArchive& archive, const std::string& path, const LogCapture& log) {
    FileStream* stream = new FileStream;
    if (!stream->open(path.c_str(), kFileRead | kFileOpenExisting)) {
        delete stream;
        fail(path + ": cannot open file");
    }
    archive.set.depackers = nonFatalDepackerFor;
    if (!archive.set.addArchive(stream, true)) fail(path + ": " + log.lastReason());
    archive.record = archive.set.archives().front();
}

std::vector<uint8_t> readMember(OpenArchive& archive, const FileRecord& file,
                                const LogCapture& log) {
    std::unique_ptr<Stream> stream(archive.set.openMember(file));
    if (!stream) fail(std::string(file.name) + ": " + log.lastReason());
    std::vector<uint8_t> bytes(size_t(std::max(0, stream->size())));
    if (!bytes.empty() && !stream->readExact(bytes.data(), int32_t(bytes.size())))
        fail(std::string(file.name) + ": data cut short");
    if (bytes.size() != file.unpackedSize)
        fail(std::string(file.name) + ": unpacked " + std::to_string(bytes.size()) +
             " bytes, the directory says " + std::to_string(file.unpackedSize));
    return bytes;
}

const FileRecord* findMember(OpenArchive& archive, const std::string& name) {
    for (const FileRecord* file : archive.set.files())
        if (strcasecmp(file->name, name.c_str()) == 0) return file;
    return nullptr;
}

// A member name that would leave the target folder is refused.
bool isSafeName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos) return false;
    for (const fs::path& part : fs::path(name))
        if (part == "..") return false;
    return true;
}

// ---- creating archives -----------------------------------------------------------------

constexpr int kAutoMethod = -1;

struct CreateOptions {
    std::string output;
    std::string id;
    std::string patches;
    std::string description;
    int method = kAutoMethod; // 0, 1, 2, or the smallest of the three per member
    int level = 9;
    int headerMethod = 1;
    std::vector<std::string> paths;
};

struct Member {
    std::string name;
    std::string path;
};

std::string memberName(const fs::path& path) {
    std::string name = path.lexically_normal().generic_string();
    while (name.rfind("./", 0) == 0)
        name.erase(0, 2);
    while (!name.empty() && name[0] == '/')
        name.erase(0, 1);
    return name;
}

void collectMembers(const std::string& path, std::vector<Member>& members) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        std::vector<fs::path> files;
        for (auto it = fs::recursive_directory_iterator(path, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error))
            if (it->is_regular_file()) files.push_back(it->path());
        if (error) fail(path + ": cannot read folder");
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files)
            members.push_back({memberName(file), file.string()});
    } else if (fs::is_regular_file(path, error)) {
        members.push_back({memberName(path), path});
    } else {
        fail(path + ": no such file or folder");
    }
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(path + ": cannot open file");
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) fail(path + ": read error");
    if (bytes.size() > size_t(INT32_MAX)) fail(path + ": larger than 2 GiB");
    return bytes;
}

std::vector<uint8_t> pack(const std::vector<uint8_t>& bytes, int method, int level,
                          const std::string& what) {
    if (method == 0) return bytes;
    std::vector<uint8_t> packed = method == 1 ? packMethod1(bytes.data(), bytes.size(), level)
                                              : packMethod2(bytes.data(), bytes.size(), level);
    if (packed.empty()) fail(what + ": packing with method " + std::to_string(method) + " failed");
    return packed;
}

void appendU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

void appendString(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// The member's bytes as the chosen method packs them; with auto, the smallest of stored,
// method 1 and method 2 (a lower method wins a tie, since it unpacks faster).
std::vector<uint8_t> packMember(const std::vector<uint8_t>& bytes, const CreateOptions& options,
                                const std::string& what, int* method) {
    if (bytes.empty()) { // the method-2 layout cannot express an empty file: always stored
        *method = 0;
        return bytes;
    }
    if (options.method != kAutoMethod) {
        *method = options.method;
        return pack(bytes, options.method, options.level, what);
    }
    *method = 0;
    std::vector<uint8_t> best = bytes;
    for (int candidate = 1; candidate <= 2; ++candidate) {
        std::vector<uint8_t> packed = pack(bytes, candidate, options.level, what);
        if (packed.size() >= best.size()) continue;
        best.swap(packed);
        *method = candidate;
    }
    return best;
}

// "packing 3/12 name" on one terminal line that the next one overwrites.
void showProgress(size_t done, size_t total, const std::string& name) {
    if (!isatty(fileno(stderr))) return;
    fprintf(stderr, "\r\033[Kpacking %zu/%zu %s", done, total, name.c_str());
    if (done == total) fputc('\n', stderr);
    fflush(stderr);
}

int create(const CreateOptions& options) {
    std::vector<Member> members;
    for (const std::string& path : options.paths)
        collectMembers(path, members);
    for (size_t i = 0; i < members.size(); ++i)
        for (size_t j = i + 1; j < members.size(); ++j)
            if (strcasecmp(members[i].name.c_str(), members[j].name.c_str()) == 0)
                fail("two members named '" + members[j].name + "'");

    std::vector<uint8_t> header, data;
    appendU32(header, uint32_t(options.id.size() + 1));
    appendU32(header, uint32_t(options.patches.size() + 1));
    appendU32(header, uint32_t(options.description.size() + 1));
    appendU32(header, uint32_t(members.size()));
    appendString(header, options.id);
    appendString(header, options.patches);
    appendString(header, options.description);
    for (size_t index = 0; index < members.size(); ++index) {
        const Member& member = members[index];
        showProgress(index, members.size(), member.name);
        std::vector<uint8_t> bytes = readWholeFile(member.path);
        int method = 0;
        std::vector<uint8_t> packed = packMember(bytes, options, member.path, &method);
        if (data.size() + packed.size() > size_t(INT32_MAX) - 65536) fail("archive over 2 GiB");
        appendU32(header, uint32_t(member.name.size() + 1));
        appendU32(header, uint32_t(packed.size()));
        appendU32(header, uint32_t(bytes.size()));
        appendU32(header, uint32_t(method));
        appendString(header, member.name);
        data.insert(data.end(), packed.begin(), packed.end());
    }
    showProgress(members.size(), members.size(), "done");

    std::vector<uint8_t> packedHeader = pack(header, options.headerMethod, options.level, "header");
    std::vector<uint8_t> out(kArchiveSignature, kArchiveSignature + kArchiveSignatureSize);
    out.push_back(0);                   // not examined
    out.push_back(1), out.push_back(0); // version 1
    appendU32(out, uint32_t(options.headerMethod));
    appendU32(out, uint32_t(packedHeader.size()));
    appendU32(out, uint32_t(header.size()));
    out.push_back(0), out.push_back(0); // not examined
    out.insert(out.end(), packedHeader.begin(), packedHeader.end());
    out.insert(out.end(), data.begin(), data.end());

    std::ofstream file(options.output, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    file.close();
    if (!file) {
        unlink(options.output.c_str());
        fail(options.output + ": cannot write file");
    }
    return 0;
}

// ---- list, extract, test, cat ----------------------------------------------------------

int list(const std::string& path, const LogCapture& log) {
    OpenArchive archive;
    openArchive(archive, path, log);
    printf("id: %s\n", archive.record->id);
    if (archive.record->patchTarget[0]) printf("patches: %s\n", archive.record->patchTarget);
    printf("description: %s\n", archive.record->description);
    printf("%10s %10s %6s %6s  %s\n", "unpacked", "stored", "method", "ratio", "name");
    for (const FileRecord* file : archive.set.files()) {
        // Stored bytes per unpacked byte; an empty member is "-".
        char ratio[16] = "-";
        if (file->unpackedSize)
            snprintf(ratio, sizeof ratio, "%.3f",
                     double(file->storedSize) / double(file->unpackedSize));
        printf("%10u %10u %6u %6s  %s\n", file->unpackedSize, file->storedSize, file->method, ratio,
               file->name);
    }
    return 0;
}

int extract(const std::string& path, const std::string& folder,
            const std::vector<std::string>& names, const LogCapture& log) {
    OpenArchive archive;
    openArchive(archive, path, log);
    std::vector<const FileRecord*> chosen;
    if (names.empty()) {
        chosen.assign(archive.set.files().begin(), archive.set.files().end());
    } else {
        for (const std::string& name : names) {
            const FileRecord* file = findMember(archive, name);
            if (!file) fail(path + ": no member named '" + name + "'");
            chosen.push_back(file);
        }
    }
    for (const FileRecord* file : chosen) {
        if (!isSafeName(file->name)) fail(std::string(file->name) + ": unsafe member name");
        std::vector<uint8_t> bytes = readMember(archive, *file, log);
        fs::path target = fs::path(folder) / file->name;
        std::error_code error;
        if (target.has_parent_path()) fs::create_directories(target.parent_path(), error);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) fail(target.string() + ": cannot write file");
    }
    return 0;
}

int test(const std::string& path, const LogCapture& log) {
    OpenArchive archive;
    openArchive(archive, path, log);
    for (const std::string& line : log.lines())
        if (line.find("warning") != std::string::npos) fail(path + ": " + line.substr(6));
    for (const FileRecord* file : archive.set.files())
        readMember(archive, *file, log);
    printf("%s: %zu members ok\n", path.c_str(), archive.set.files().size());
    return 0;
}

int cat(const std::string& path, const std::string& name, const LogCapture& log) {
    OpenArchive archive;
    openArchive(archive, path, log);
    const FileRecord* file = findMember(archive, name);
    if (!file) fail(path + ": no member named '" + name + "'");
    std::vector<uint8_t> bytes = readMember(archive, *file, log);
    if (fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) fail("cannot write output");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    setErrorDialogEnabled(false);
    LogCapture log;
    CLI::App app{"ncc: create, list, extract, test and print .ncc archives"};
    app.require_subcommand(1);

    CreateOptions options;
    CLI::App* createCommand =
        app.add_subcommand("create", "pack files and folders into an archive");
    createCommand->add_option("output", options.output, "archive to write")->required();
    createCommand->add_option("--id", options.id, "archive id")->required();
    createCommand->add_option("--patches", options.patches, "id of the archive this one patches");
    createCommand->add_option("--description", options.description, "title of the archive");
    std::string method = "auto";
    createCommand
        ->add_option("--method", method,
                     "packing method: 0 stored, 1, 2, or auto (the smallest per member)")
        ->check(CLI::IsMember({"auto", "0", "1", "2"}));
    createCommand->add_option("--level", options.level, "packing level")->check(CLI::Range(1, 9));
    createCommand->add_option("--header-method", options.headerMethod, "header packing method")
        ->check(CLI::Range(0, 1));
    createCommand->add_option("paths", options.paths, "files and folders")->required();

    std::string archivePath, folder = ".", memberNameArgument;
    std::vector<std::string> names;
    CLI::App* listCommand = app.add_subcommand("list", "list the members");
    listCommand->add_option("archive", archivePath)->required();
    CLI::App* extractCommand = app.add_subcommand("extract", "unpack members to files");
    extractCommand->add_option("archive", archivePath)->required();
    extractCommand->add_option("-C", folder, "folder to unpack into");
    extractCommand->add_option("names", names, "members to unpack (default: all)");
    CLI::App* testCommand = app.add_subcommand("test", "unpack every member and check it");
    testCommand->add_option("archive", archivePath)->required();
    CLI::App* catCommand = app.add_subcommand("cat", "write one member to standard output");
    catCommand->add_option("archive", archivePath)->required();
    catCommand->add_option("name", memberNameArgument)->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        printf("%s", app.help().c_str());
        return 0;
    } catch (const CLI::ParseError& error) {
        fprintf(stderr, "ncc: %s\n", error.what());
        return 2;
    }

    options.method = method == "auto" ? kAutoMethod : std::stoi(method);
    try {
        if (*createCommand) return create(options);
        if (*listCommand) return list(archivePath, log);
        if (*extractCommand) return extract(archivePath, folder, names, log);
        if (*testCommand) return test(archivePath, log);
        if (*catCommand) return cat(archivePath, memberNameArgument, log);
    } catch (const ToolError& error) {
        fprintf(stderr, "ncc: %s\n", error.message.c_str());
        return 1;
    }
    return 2;
}
