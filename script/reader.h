// Script reader: the preprocessed script text read token by token.
//
// A token is a run of characters from '!' up, ended by white space or ';' (which starts a
// comment to the end of the line), or a text in double quotes. Typed readers read
// identifiers (at most 63 characters), strings (a length the caller gives), floats with the
// script's unit suffixes ("%", "x", "y") and integers ("0x" hexadecimal). Optional readers
// save the position and restore it when they find something else, so an absent optional
// element consumes nothing; `save`/`restore` let the grammar try alternatives itself.
//
// Every error goes through `parseError`, which never returns: it ends the program through
// fatal with "while parsing script (line %d) near '%s':\n\n%s". When the text came from the
// preprocessor with its line records, the line is the line in the source file of the last
// token read and the file name follows on the second line ("in file '%s'").
#pragma once

#include "script/preprocessor.h"

#include <cstdint>
#include <vector>

class Stream;

struct ReaderPosition {
    int32_t position = 0;   // offset in the text
    int32_t line = 1;       // reader's own line count
    int32_t tokenStart = 0; // start of the last token consumed, where errors are located
};

class ScriptReader {
  public:
    static constexpr int kIdentLength = 63; // identifiers and numbers; buffers hold 64

    // Copies the text from the stream's current position to its end; lines may be null.
    void load(Stream* text, const SourceLines* lines);
    void load(const char* text, int32_t size, const SourceLines* lines);
    bool rewind(); // false when there is no text

    ReaderPosition save() const { return {position, line, tokenStart}; }
    // Goes back to a saved position. With keepLocation, errors raised next still point at
    // the token just looked at (the word that was not what the grammar wanted).
    void restore(const ReaderPosition& saved, bool keepLocation = false);

    // One token into buffer (at most max characters, always terminated; the rest of a
    // longer token is skipped). False at the end of the text.
    bool readToken(char* buffer, int max);
    bool readIdent(char* buffer, bool required); // buffer of kIdentLength + 1
    bool expect(const char* word, bool required);
    bool readString(char* buffer, int max);
    bool readFloat(float* out, bool required);
    bool readInt(int32_t* out, bool required);
    void skipUntil(const char* word);

    [[noreturn]] void parseError(const char* format, ...) __attribute__((format(printf, 2, 3)));

    int32_t size() const { return int32_t(text.size()); }

  private:
    int peek() const { return position < size() ? (unsigned char)text[position] : -1; }
    void skipComment();

    std::vector<char> text;
    int32_t position = 0;
    int32_t line = 1;
    int32_t tokenStart = 0; // start of the last token read: where errors are located
    SourceLines sourceLines;
    bool haveSourceLines = false;
};
