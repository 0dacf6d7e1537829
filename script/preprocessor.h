// Script preprocessor: turns the script file and everything it includes into one text.
//
// `run(fileName)` splices "#include name" directives in place, drops comments (";" to the
// end of the line), folds every run of white space into one blank and lower-cases all text
// outside quoted strings (quotes: " ' ` and the acute accent 0xB4). The output is one text
// with no line breaks outside strings, in a growable memory stream; the caller rewinds it
// and builds a `Script` (script/parser.h) from it, handing over `sourceLines()` so that
// parse errors can name the file and line a piece of text came from.
//
// Files are opened through the file lookup (data/filesystem.h). Every error ends the
// program through fatal with "preprocessor error: %s at file '%s', line %d"; files that
// cannot be found or include themselves end it with their own messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Stream;

// Where each source line's text begins in the output: one record per line start, in output
// order, so an output offset maps back to the file and line it came from.
struct SourceLines {
    struct FileName {
        char name[256] = {};
    };
    struct LineRecord {
        int32_t file = 0;   // index into names
        int32_t line = 1;   // line number in that file, from 1
        int32_t offset = 0; // output offset where the line's text begins
    };
    std::vector<FileName> names;
    std::vector<LineRecord> records;

    // The file name and line of the text at an output offset; false when nothing is known.
    bool locate(int32_t offset, const char** fileName, int32_t* line) const;
};

class Preprocessor {
  public:
    // Includes deeper than this are refused ("Includes nested too deeply").
    static constexpr int kMaxIncludeDepth = 32;

    Preprocessor() = default;
    ~Preprocessor();
    Preprocessor(const Preprocessor&) = delete;
    Preprocessor& operator=(const Preprocessor&) = delete;

    // Processes fileName and everything it includes; false only when the output stream
    // cannot be created. Errors in the text are fatal.
    bool run(const char* fileName);
    Stream* output() { return out; }
    const SourceLines& sourceLines() const { return lines; }

  private:
    struct Frame {
        int32_t file = 0; // index into lines.names
        uint8_t* data = nullptr;
        int32_t position = 0;
        int32_t size = 0;
        int32_t line = 1;
    };

    void process();
    int readChar();                      // next character of the input, -1 at the end of all input
    int readDirectiveChar(size_t depth); // -1 at the end of the directive's own file
    void openSource(const char* fileName, int32_t includer, int32_t line);
    int32_t enterName(const char* fileName);
    void closeFrame();
    void recordLine(int32_t file, int32_t line);
    void copyString(int quote);
    void readDirective();
    void write(int c);
    [[noreturn]] void errorAt(const char* message, int32_t file, int32_t line);
    void clear();

    Stream* out = nullptr;
    std::vector<Frame> frames;
    SourceLines lines;
    bool endsInFoldedBlank = false; // the output ends in a folded white-space run
    std::string text;               // the output while it is built
    int32_t lastFile = -1; // where the last character read came from, for errors at the end
    int32_t lastLine = 0;
};
