#include "data/stream.h"

#include "archive_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t((i * 7 + i / 256) & 0xff);
    return bytes;
}

TEST(MemoryStream, seekAndReadClampToTheSize) {
    uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemoryStream stream;
    stream.attach(bytes, 10, false);
    EXPECT_EQ(stream.seek(20), 10);
    EXPECT_EQ(stream.atEnd(), 1);
    EXPECT_EQ(stream.seek(-3), 0);
    stream.seek(8);
    uint8_t out[5] = {};
    EXPECT_EQ(stream.read(out, 5), 2);
    EXPECT_EQ(out[0], 8);
    EXPECT_EQ(out[1], 9);
    EXPECT_EQ(stream.seekFromEnd(-4), 6);
    EXPECT_EQ(stream.seekRelative(3), 9);
    // a MemoryStream never grows
    stream.seek(8);
    EXPECT_EQ(stream.write("abcd", 4), 2);
    EXPECT_EQ(stream.size(), 10);
    EXPECT_EQ(bytes[9], 'b');
    EXPECT_EQ(stream.detach(), nullptr); // not owned
}

TEST(MemoryStream, readExactShortOfTheEndFailsAndMovesToTheEnd) {
    MemoryStream stream;
    ASSERT_EQ(stream.reserve(100), 1);
    stream.seek(90);
    uint8_t out[16];
    EXPECT_EQ(stream.readExact(out, 16), 0);
    EXPECT_EQ(stream.tell(), 100);
    void* owned = stream.detach();
    EXPECT_NE(owned, nullptr);
    EXPECT_EQ(stream.size(), 0);
    free(owned);
}

TEST(MemoryStream, openCopiesWhatRemainsOfTheSource) {
    std::vector<uint8_t> bytes = pattern(300);
    MemoryStream source;
    source.attach(bytes.data(), 300, false);
    source.seek(250);
    MemoryStream copy;
    ASSERT_EQ(copy.open(&source, 1000), 1);
    EXPECT_EQ(copy.size(), 50);
    EXPECT_EQ(copy.readByte(), bytes[250]);
    source.seek(100);
    ASSERT_EQ(copy.open(&source, -1), 1);
    EXPECT_EQ(copy.size(), 200);
    source.seek(10);
    ASSERT_EQ(copy.open(&source, 5), 1);
    EXPECT_EQ(copy.size(), 5);
    EXPECT_EQ(source.tell(), 15);
}

TEST(Stream, typedValuesAreLittleEndian) {
    MemoryStream stream;
    ASSERT_EQ(stream.reserve(32), 1);
    EXPECT_EQ(stream.writeU32(0x11223344), 4);
    EXPECT_EQ(stream.writeShort(-2), 2);
    EXPECT_EQ(stream.writeDouble(1.0), 8);
    EXPECT_EQ(stream.writeFloat(-2.5f), 4);
    EXPECT_EQ(stream.writeU64(0x0102030405060708ull), 8);
    const uint8_t expected[] = {0x44, 0x33, 0x22, 0x11, 0xfe, 0xff, 0, 0, 0, 0, 0, 0, 0xf0,
                                0x3f, 0,    0,    0x20, 0xc0, 8,    7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(memcmp(stream.data(), expected, sizeof expected), 0);
    stream.seek(0);
    EXPECT_EQ(stream.readInt(), 0x11223344);
    EXPECT_EQ(stream.readShort(), -2);
    EXPECT_EQ(stream.readDouble(), 1.0);
    EXPECT_EQ(stream.readFloat(), -2.5f);
    EXPECT_EQ(stream.readLongLong(), 0x0102030405060708ll);
    EXPECT_EQ(stream.writeString(nullptr), 0);
}

TEST(Stream, readLineStopsAfterTheTerminator) {
    std::string bytes = std::string("tenletters") + '\0' + "next";
    MemoryStream stream;
    stream.attachReadOnly(bytes.data(), int32_t(bytes.size()));
    char name[255];
    EXPECT_EQ(stream.readLine(name, 255, 0), 10);
    EXPECT_STREQ(name, "tenletters");
    EXPECT_EQ(stream.tell(), 11);
    // no terminator before the end: what was read stays, terminated
    EXPECT_EQ(stream.readLine(name, 255, 0), 4);
    EXPECT_STREQ(name, "next");
}

TEST(Stream, readLineLongerThanTheBufferSkipsTheRestOfThatLine) {
    std::string bytes = "abcdefgh\nxy\n";
    MemoryStream stream;
    stream.attachReadOnly(bytes.data(), int32_t(bytes.size()));
    char line[4];
    EXPECT_EQ(stream.readLine(line, 4, '\n'), 3);
    EXPECT_STREQ(line, "abc");
    EXPECT_EQ(stream.readLine(line, 4, '\n'), 2);
    EXPECT_STREQ(line, "xy");
}

TEST(WindowStream, lengthIsClampedToTheParent) {
    std::vector<uint8_t> bytes = pattern(120);
    MemoryStream parent;
    parent.attach(bytes.data(), 120, false);
    WindowStream window;
    EXPECT_EQ(window.open(&parent, 100, 50, false), 1);
    EXPECT_EQ(window.size(), 20);
    EXPECT_EQ(window.readByte(), bytes[100]);
    EXPECT_EQ(window.seek(30), 20);
    EXPECT_EQ(window.open(&parent, 500, 10, false), 0);
    EXPECT_EQ(window.size(), 0);
    EXPECT_EQ(window.open(&parent, -5, 10, false), 1);
    EXPECT_EQ(window.readByte(), bytes[0]);
}

TEST(WindowStream, windowsOverOneParentReadTheirOwnBytesInTurn) {
    std::vector<uint8_t> bytes = pattern(1000);
    MemoryStream parent;
    parent.attach(bytes.data(), 1000, false);
    WindowStream first, second;
    first.open(&parent, 100, 200, false);
    second.open(&parent, 600, 200, false);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(first.readByte(), bytes[size_t(100 + i)]);
        EXPECT_EQ(second.readByte(), bytes[size_t(600 + i)]);
    }
    first.seek(150);
    uint8_t out[100];
    EXPECT_EQ(first.read(out, 100), 50); // stops at the window's end
    EXPECT_EQ(out[49], bytes[299]);
}

TEST(WindowStream, closesAnOwnedParent) {
    auto* parent = new MemoryStream;
    ASSERT_EQ(parent->reserve(10), 1);
    WindowStream window;
    window.open(parent, 0, 10, true);
    window.close(); // the sanitizer build reports a leak if the parent stays
    EXPECT_EQ(window.size(), 0);
}

TEST(PagedMemoryStream, growsAcrossPagesAndSeeksBack) {
    const int32_t page = PagedMemoryStream::kPageSize;
    std::vector<uint8_t> bytes = pattern(size_t(3 * page + 5));
    PagedMemoryStream stream;
    ASSERT_EQ(stream.open(), 1);
    EXPECT_EQ(stream.write(bytes.data(), 1000), 1000);
    EXPECT_EQ(stream.write(bytes.data() + 1000, int32_t(bytes.size()) - 1000),
              int32_t(bytes.size()) - 1000);
    EXPECT_EQ(stream.size(), 3 * page + 5);
    EXPECT_EQ(stream.seek(page), page);
    std::vector<uint8_t> out(size_t(page) + 10);
    EXPECT_EQ(stream.read(out.data(), page + 10), page + 10);
    EXPECT_EQ(memcmp(out.data(), bytes.data() + page, out.size()), 0);
    EXPECT_EQ(stream.seek(1 << 30), 3 * page + 5);
    EXPECT_EQ(stream.read(out.data(), 10), 0);
    // overwrite inside, then the size stays
    stream.seek(2 * page - 2);
    stream.writeU32(0xdeadbeef);
    stream.seek(2 * page - 2);
    EXPECT_EQ(stream.readU32(), 0xdeadbeefu);
    EXPECT_EQ(stream.size(), 3 * page + 5);
}

TEST(Stream, copyFromCopiesToTheEndOrTheCount) {
    std::vector<uint8_t> bytes = pattern(200000);
    MemoryStream source;
    source.attach(bytes.data(), int32_t(bytes.size()), false);
    PagedMemoryStream target;
    target.open();
    EXPECT_EQ(target.copyFrom(&source, 0), 200000);
    source.seek(10);
    EXPECT_EQ(target.copyFrom(&source, 70000), 70000);
    EXPECT_EQ(source.tell(), 70010);
    EXPECT_EQ(target.size(), 270000);
    target.seek(200000);
    std::vector<uint8_t> out(70000);
    ASSERT_EQ(target.readExact(out.data(), 70000), 1);
    EXPECT_EQ(memcmp(out.data(), bytes.data() + 10, 70000), 0);
    // into a full MemoryStream: stops after the piece that did not fit
    MemoryStream small;
    small.reserve(100);
    source.seek(0);
    EXPECT_EQ(small.copyFrom(&source, -1), 100);
}

TEST(FileStream, writesReadsAndFindsNamesInAnyLetterCase) {
    enterOwnFolder();
    std::filesystem::create_directories("Folder/Sub");
    FileStream file;
    ASSERT_EQ(file.open("Folder/Sub/Name.BIN", kFileReadWrite | kFileCreateAlways), 1);
    EXPECT_EQ(file.writeU32(0xcafebabe), 4);
    EXPECT_EQ(file.writeString("tail"), 4);
    EXPECT_EQ(file.seek(0), 0);
    EXPECT_EQ(file.readU32(), 0xcafebabeu);
    EXPECT_EQ(file.size(), 8);
    file.close();

    ASSERT_EQ(file.open("folder\\sub\\name.bin", kFileRead), 1);
    EXPECT_EQ(file.size(), 8);
    EXPECT_EQ(file.seekFromEnd(-4), 4);
    char tail[5] = {};
    EXPECT_EQ(file.readExact(tail, 4), 1);
    EXPECT_STREQ(tail, "tail");
    EXPECT_EQ(file.write("x", 1), 0); // opened for reading
    EXPECT_EQ(file.open("folder/sub/missing.bin", kFileRead), 0);
    EXPECT_EQ(file.open("Folder", kFileRead), 0); // a folder is not a file
    EXPECT_EQ(file.read(tail, 1), 0);
}

TEST(MemoryStream, embeddedResourceIsReadOnlyAndHoldsTheFile) {
    MemoryStream stream;
    ASSERT_EQ(stream.loadResource(126), 1);
    std::string expected = readFile(LUX_TEST_DATA "/scratch-lake.jpg");
    ASSERT_EQ(stream.size(), int32_t(expected.size()));
    EXPECT_EQ(memcmp(stream.data(), expected.data(), expected.size()), 0);
    EXPECT_EQ(stream.write("x", 1), 0);
    EXPECT_EQ(stream.writeU32(1), 0);
    EXPECT_EQ(stream.data()[0], 0xff);                // JPEG start of image, unchanged
    EXPECT_EQ(stream.loadResource(0x10000 + 126), 1); // the low 16 bits select it
    EXPECT_EQ(stream.loadResource(127), 0);
}

} // namespace
