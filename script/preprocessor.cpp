// Script preprocessor: includes, comments, white space, lower-casing, line records.
#include "script/preprocessor.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "platform/config.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

constexpr int kAcuteAccent = 0xB4;
constexpr int kMaxDirectiveName = 7;
constexpr int kMaxFileName = 255;

bool isWhiteSpace(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isQuote(int c) {
    return c == '"' || c == '\'' || c == '`' || c == kAcuteAccent;
}

} // namespace

bool SourceLines::locate(int32_t offset, const char** fileName, int32_t* line) const {
    // The last record that begins at or before the offset holds it.
    auto after = std::upper_bound(records.begin(), records.end(), offset,
                                  [](int32_t o, const LineRecord& r) { return o < r.offset; });
    if (after == records.begin()) return false;
    const LineRecord& record = *(after - 1);
    *fileName = names[record.file].name;
    *line = record.line;
    return true;
}

Preprocessor::~Preprocessor() {
    clear();
}

void Preprocessor::clear() {
    for (Frame& frame : frames)
        free(frame.data);
    frames.clear();
    if (out) {
        out->close();
        delete out;
        out = nullptr;
    }
    lines.names.clear();
    lines.records.clear();
    text.clear();
    endsInFoldedBlank = false;
    lastFile = -1;
    lastLine = 0;
}

bool Preprocessor::run(const char* fileName) {
    clear();
    PagedMemoryStream* stream = new PagedMemoryStream;
    if (!stream->open()) {
        delete stream;
        return false;
    }
    out = stream;
    openSource(fileName, -1, 0);
    process();
    out->write(text.data(), int32_t(text.size()));
    text.clear();
    text.shrink_to_fit();
    return true;
}

void Preprocessor::process() {
    int c = readChar();
    while (c >= 0) {
        if (isWhiteSpace(c)) {
            do
                c = readChar();
            while (c >= 0 && isWhiteSpace(c));
            // White space on both sides of a comment still folds into one blank.
            if (!endsInFoldedBlank) write(' ');
            endsInFoldedBlank = true;
            continue; // the first character after the run is processed like any other
        }
        if (isQuote(c)) {
            copyString(c);
        } else if (c == '#') {
            readDirective();
        } else if (c == ';') {
            // The comment ends at the line feed, which then counts as white space.
            do
                c = readChar();
            while (c >= 0 && c != '\n');
            continue;
        } else {
            write(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        c = readChar();
    }
}

int Preprocessor::readChar() {
    while (!frames.empty() && frames.back().position >= frames.back().size)
        closeFrame();
    if (frames.empty()) return -1;
    Frame& frame = frames.back();
    int c = frame.data[frame.position++];
    lastFile = frame.file;
    lastLine = frame.line;
    if (c == '\n') {
        ++frame.line;
        recordLine(frame.file, frame.line);
    }
    return c;
}

void Preprocessor::recordLine(int32_t file, int32_t line) {
    lines.records.push_back(SourceLines::LineRecord{file, line, int32_t(text.size())});
}

void Preprocessor::closeFrame() {
    free(frames.back().data);
    frames.pop_back();
    if (!frames.empty()) recordLine(frames.back().file, frames.back().line);
}

void Preprocessor::copyString(int quote) {
    int32_t startFile = lastFile, startLine = lastLine;
    write(quote);
    for (;;) {
        int c = readChar();
        if (c < 0) errorAt("Unterminated string", startFile, startLine);
        write(c);
        if (c == quote) return;
    }
}

// The directive is read from the file of its '#' only: the end of that file ends it, and the
// file stays open until the directive is done, so the include checks below still see it.
int Preprocessor::readDirectiveChar(size_t depth) {
    if (frames.size() != depth || frames.back().position >= frames.back().size) return -1;
    return readChar();
}

void Preprocessor::readDirective() {
    // Errors name the line of the '#', even when the name follows on a later line.
    const int32_t file = lastFile, line = lastLine;
    const size_t depth = frames.size();
    char name[kMaxDirectiveName + 1] = {};
    int length = 0;
    int c = readDirectiveChar(depth);
    for (; c >= 0 && !isWhiteSpace(c); c = readDirectiveChar(depth)) {
        if (length == kMaxDirectiveName) errorAt("Invalid preprocessor directive", file, line);
        name[length++] = char(c);
    }
    if (strcasecmp(name, "include") != 0) errorAt("Invalid preprocessor directive", file, line);
    while (c >= 0 && isWhiteSpace(c))
        c = readDirectiveChar(depth);
    if (c < 0) errorAt("Unexpected end of file", file, line);
    char fileName[kMaxFileName + 1] = {};
    length = 0;
    for (; c >= 0 && !isWhiteSpace(c); c = readDirectiveChar(depth)) {
        if (length == kMaxFileName) errorAt("Filename too long", file, line);
        fileName[length++] = char(c);
    }
    // The white space that ended the name has been read and is dropped with the directive.
    if (int(frames.size()) >= kMaxIncludeDepth) errorAt("Includes nested too deeply", file, line);
    openSource(fileName, file, line);
}

void Preprocessor::openSource(const char* fileName, int32_t includer, int32_t line) {
    if (!isProductionFileName(fileName)) {
        if (includer < 0) fatal("File '%s' lies outside the production folder\n", fileName);
        fatal("File '%s' lies outside the production folder\nincluded at file '%s', line %d\n",
              fileName, lines.names[includer].name, line);
    }
    int32_t size = 0;
    Stream* stream = openFile(fileName, &size);
    if (!stream) {
        if (includer < 0) fatal("Unable to find file '%s'\n", fileName);
        fatal("Unable to find file '%s'\nincluded at file '%s', line %d\n", fileName,
              lines.names[includer].name, line);
    }
    int32_t file = enterName(fileName);
    if (!frames.empty() && frames.back().file == file) {
        closeFile(stream);
        fatal("File '%s' includes itself\nincluded at file '%s', line %d\n", fileName,
              lines.names[file].name, line);
    }
    Frame frame;
    frame.file = file;
    frame.size = size > 0 ? size : 0;
    frame.data = static_cast<uint8_t*>(malloc(size_t(frame.size) + 1));
    if (!frame.data) fatal("Unable to read file '%s'\n", fileName);
    frame.size = frame.size ? std::max(0, stream->read(frame.data, frame.size)) : 0;
    closeFile(stream);
    frames.push_back(frame);
    recordLine(file, 1);
}

int32_t Preprocessor::enterName(const char* fileName) {
    for (size_t i = 0; i < lines.names.size(); ++i)
        if (strncasecmp(lines.names[i].name, fileName, kMaxFileName) == 0) return int32_t(i);
    lines.names.emplace_back();
    copyName(lines.names.back().name, fileName);
    return int32_t(lines.names.size() - 1);
}

void Preprocessor::write(int c) {
    text.push_back(char(c));
    endsInFoldedBlank = false;
}

void Preprocessor::errorAt(const char* message, int32_t file, int32_t line) {
    if (file < 0) fatal("preprocessor error: %s (file already closed)", message);
    fatal("preprocessor error: %s at file '%s', line %d", message, lines.names[file].name, line);
}
