// Script reader: tokens, typed readers, error frame.
#include "script/reader.h"

#include "data/stream.h"
#include "platform/log.h"
#include "platform/values.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool startsNumber(const char* token) {
    return (token[0] >= '0' && token[0] <= '9') || token[0] == '-';
}

} // namespace

void ScriptReader::load(Stream* source, const SourceLines* lines) {
    text.clear();
    if (source) {
        int32_t length = source->size() - source->tell();
        if (length > 0) {
            text.resize(size_t(length));
            int32_t got = source->read(text.data(), length);
            text.resize(size_t(got > 0 ? got : 0));
        }
    }
    haveSourceLines = lines != nullptr;
    if (lines) sourceLines = *lines;
    rewind();
}

void ScriptReader::load(const char* source, int32_t length, const SourceLines* lines) {
    text.assign(source, source + (length > 0 ? length : 0));
    haveSourceLines = lines != nullptr;
    if (lines) sourceLines = *lines;
    rewind();
}

bool ScriptReader::rewind() {
    position = 0;
    line = 1;
    tokenStart = 0;
    return !text.empty();
}

void ScriptReader::restore(const ReaderPosition& saved, bool keepLocation) {
    position = saved.position;
    line = saved.line;
    if (!keepLocation) tokenStart = saved.tokenStart;
}

void ScriptReader::skipComment() {
    while (peek() >= 0 && peek() != '\n' && peek() != '\r')
        ++position;
}

bool ScriptReader::readToken(char* buffer, int max) {
    for (;;) {
        while (peek() >= 0 && peek() < '!') {
            if (peek() == '\n') ++line;
            ++position;
        }
        if (peek() < 0) return false;
        if (peek() != ';') break;
        skipComment();
    }
    tokenStart = position;
    int length = 0;
    if (peek() == '"') {
        ++position;
        for (;;) {
            int c = peek();
            if (c < 0 || c == '\n' || c == '\r')
                parseError("End of line/file within string encountered!");
            ++position;
            if (c == '"') break;
            if (length < max) buffer[length++] = char(c);
        }
    } else {
        while (peek() >= '!' && peek() != ';') {
            if (length < max) buffer[length++] = text[position];
            ++position;
        }
    }
    buffer[length] = 0;
    if (peek() == ';') skipComment();
    return true;
}

bool ScriptReader::readIdent(char* buffer, bool required) {
    if (readToken(buffer, kIdentLength)) return true;
    if (required) parseError("identifier expected");
    return false;
}

bool ScriptReader::expect(const char* word, bool required) {
    ReaderPosition saved = save();
    char token[kIdentLength + 1];
    if (readIdent(token, false) && strcmp(token, word) == 0) return true;
    if (required) parseError("'%s' expected", word);
    restore(saved);
    return false;
}

bool ScriptReader::readString(char* buffer, int max) {
    if (!readToken(buffer, max)) parseError("string expected");
    return true;
}

bool ScriptReader::readFloat(float* out, bool required) {
    ReaderPosition saved = save();
    char token[kIdentLength + 1];
    if (readIdent(token, false) && startsNumber(token)) {
        if (token[0] == '0' && token[1] == 'x') {
            *out = float(parseIntValue(token));
            return true;
        }
        size_t length = strlen(token);
        float multiplier = 1.0f;
        char suffix = token[length - 1];
        if (suffix == '%') multiplier = 0.01f;
        if (suffix == 'x') multiplier = 1.0f / preferredWidth();
        if (suffix == 'y') multiplier = 1.0f / preferredHeight();
        if (suffix == '%' || suffix == 'x' || suffix == 'y') token[--length] = 0;
        if (length > 0) {
            *out = float(parseDecimal(token)) * multiplier;
            return true;
        }
    }
    if (required) parseError("float value expected");
    restore(saved);
    return false;
}

bool ScriptReader::readInt(int32_t* out, bool required) {
    ReaderPosition saved = save();
    char token[kIdentLength + 1];
    if (readIdent(token, false) && token[0] && startsNumber(token)) {
        *out = parseIntValue(token);
        return true;
    }
    if (required) parseError("integer value expected");
    restore(saved);
    return false;
}

void ScriptReader::skipUntil(const char* word) {
    char token[kIdentLength + 1];
    for (;;) {
        if (!readIdent(token, false))
            parseError("End of file encountered while expecting '%s'", word);
        if (strcmp(token, word) == 0) return;
    }
}

void ScriptReader::parseError(const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);

    char near[kIdentLength + 1];
    int length = 0;
    for (int32_t i = position; i < size() && length < kIdentLength; ++i, ++length)
        near[length] = (unsigned char)text[size_t(i)] < 32 ? ' ' : text[size_t(i)];
    near[length] = 0;

    const char* fileName = nullptr;
    int32_t sourceLine = line;
    if (haveSourceLines && sourceLines.locate(tokenStart, &fileName, &sourceLine))
        fatal("while parsing script (line %d) near '%s':\nin file '%s'\n\n%s", sourceLine, near,
              fileName, message);
    fatal("while parsing script (line %d) near '%s':\n\n%s", line, near, message);
}
