#include "data/filesystem.h"

#include "archive_builder.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string readAll(Stream* stream) {
    std::string bytes(size_t(std::max(0, stream->size())), '\0');
    stream->seek(0);
    stream->read(bytes.data(), int32_t(bytes.size()));
    return bytes;
}

TestArchive archiveOf(const std::string& id, std::vector<TestMember> members,
                      const std::string& patchTarget = "") {
    TestArchive archive;
    archive.id = id;
    archive.description = "about " + id;
    archive.patchTarget = patchTarget;
    archive.members = std::move(members);
    return archive;
}

// Each test runs in a fresh folder of its own, with the log in it.
class InFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::current_path();
        enterOwnFolder();
        logSetFile("log.txt");
    }
    void TearDown() override {
        closeFileSystem();
        fs::current_path(folder);
    }
    std::string log() { return readFile("log.txt"); }
    void add(ArchiveSet& set, const TestArchive& archive) {
        std::string bytes = archive.bytes();
        auto* stream = new MemoryStream;
        ASSERT_EQ(stream->reserve(int32_t(bytes.size())), 1);
        memcpy(stream->data(), bytes.data(), bytes.size());
        ASSERT_EQ(set.addArchive(stream, true), 1);
    }
    // Opens name and returns its bytes, or "<none>".
    std::string open(ArchiveSet& set, const char* name) {
        if (!set.openFile(name)) return "<none>";
        std::unique_ptr<Stream> stream(set.takeFile());
        return readAll(stream.get());
    }
    fs::path folder;
};

using Lookup = InFolder;

TEST_F(Lookup, preferredArchiveSettlesAClashElseTheNameIsAmbiguous) {
    ArchiveSet set;
    add(set, archiveOf("one", {{"a.jpg", "first"}}));
    add(set, archiveOf("two", {{"A.JPG", "second"}}));
    set.resolvePatches();
    logSetFile("log.txt");
    EXPECT_EQ(open(set, "a.jpg"), "first");
    EXPECT_EQ(log(), "NCCF: opening file 'a.jpg' from archive 'one' (as 'a.jpg')\n");
    set.setPreferred(set.archives()[1]);
    EXPECT_EQ(open(set, "a.jpg"), "second");
    set.setPreferred(nullptr);
    logSetFile("log.txt");
    EXPECT_EQ(open(set, "a.jpg"), "<none>");
    EXPECT_EQ(log(), "NCCF: found ambiguous files while searching for 'a.jpg':\n"
                     "NCCF:  file 'a.jpg' (in archive 'one')\n"
                     "NCCF:  file 'A.JPG' (in archive 'two')\n"
                     "NCCF: file 'a.jpg' not found.\n");
    // both archives share a name: both are choices, the preferred one first
    ASSERT_EQ(set.choices().size(), 2u);
    EXPECT_STREQ(set.choices()[0]->id, "one");
    EXPECT_STREQ(set.choices()[1]->id, "two");
}

TEST_F(Lookup, longerSuffixSettlesWhatTheBaseNameCannot) {
    ArchiveSet set;
    add(set, archiveOf("one", {{"x/a.jpg", "x"}, {"y/a.jpg", "y"}, {"other/b.jpg", "b"}}));
    set.resolvePatches();
    EXPECT_EQ(open(set, "x/a.jpg"), "x");
    EXPECT_EQ(open(set, "Y\\A.jpg"), "y");
    EXPECT_EQ(open(set, "tex/b.jpg"), "b"); // the base name alone is unique
    logSetFile("log.txt");
    EXPECT_EQ(open(set, "z/a.jpg"), "<none>");
    EXPECT_EQ(log(), "NCCF: file 'z/a.jpg' not found in any archive, though the following "
                     "files exist:\n"
                     "NCCF:  file 'x/a.jpg' (in archive 'one')\n"
                     "NCCF:  file 'y/a.jpg' (in archive 'one')\n"
                     "NCCF: (wrong path?)\n"
                     "NCCF: file 'z/a.jpg' not found.\n");
    logSetFile("log.txt");
    EXPECT_EQ(open(set, "c.jpg"), "<none>");
    EXPECT_EQ(log(), "NCCF: file 'c.jpg' not found.\n");
    EXPECT_EQ(open(set, ""), "<none>");
}

TEST_F(Lookup, unknownMethodIsReportedWithoutNotFound) {
    ArchiveSet set;
    add(set, archiveOf("one", {{"odd.bin", "zz", 2, 7}, {"empty", ""}}));
    set.resolvePatches();
    logSetFile("log.txt");
    EXPECT_EQ(open(set, "odd.bin"), "<none>");
    EXPECT_EQ(log(), "NCCF: opening file 'odd.bin' from archive 'one' (as 'odd.bin')\n"
                     "NCCF: error: Unknown compression method #7!\n");
    EXPECT_EQ(set.openFile("empty"), 1); // an empty member opens as an empty stream
    EXPECT_EQ(set.fileSize(), 0);
    EXPECT_EQ(set.atEnd(), 1);
}

TEST_F(Lookup, memberPastTheArchiveEndIsCutToWhatExists) {
    ArchiveSet set;
    TestArchive archive = archiveOf("one", {{"a", "12345"}});
    std::string bytes = archive.bytes();
    bytes.resize(bytes.size() - 2);
    auto* stream = new MemoryStream;
    stream->reserve(int32_t(bytes.size()));
    memcpy(stream->data(), bytes.data(), bytes.size());
    ASSERT_EQ(set.addArchive(stream, true), 1);
    EXPECT_NE(log().find("warning"), std::string::npos);
    ASSERT_EQ(set.openFile("a"), 1);
    EXPECT_EQ(set.size(), 3);
    char out[8] = {};
    EXPECT_EQ(set.read(out, 8), 3);
    EXPECT_STREQ(out, "123");
}

using Patches = InFolder;

TEST_F(Patches, patchOfAPatchResolvesFromTheOldestArchiveOn) {
    ArchiveSet set;
    add(set, archiveOf("C", {{"f3", "C3"}}, "b"));
    add(set, archiveOf("B", {{"f2", "B2"}, {"F3", "B3"}}, "a"));
    add(set, archiveOf("A", {{"f1", "A1"}, {"f2", "A2"}, {"f3", "A3"}}));
    logSetFile("log.txt");
    set.resolvePatches();
    EXPECT_EQ(log(), "NCCF: archive 'B' is a patch for archive 'A'\n"
                     "NCCF: archive 'C' is a patch for archive 'B'\n");
    EXPECT_STREQ(set.preferred()->id, "C");
    EXPECT_EQ(set.files().size(), 3u);
    EXPECT_EQ(open(set, "f1"), "A1");
    EXPECT_EQ(open(set, "f2"), "B2");
    EXPECT_EQ(open(set, "f3"), "C3");
    ASSERT_EQ(set.choices().size(), 1u); // no names shared any more
    EXPECT_STREQ(set.choices()[0]->id, "C");
}

TEST_F(Patches, selfPatchAndUnknownTargetChangeNothing) {
    ArchiveSet set;
    add(set, archiveOf("self", {{"a", "1"}}, "SELF"));
    add(set, archiveOf("lost", {{"a", "2"}}, "nowhere"));
    logSetFile("log.txt");
    set.resolvePatches();
    EXPECT_EQ(log(), "NCCF: archive 'self' patches itself? weird.\n"
                     "NCCF: warning - archive lost is a patch for unknown archive nowhere!\n");
    EXPECT_STREQ(set.preferred()->id, "self");
    EXPECT_EQ(set.files().size(), 2u);
    EXPECT_EQ(open(set, "a"), "1");
}

using Files = InFolder;

TEST_F(Files, archivesOfTheFolderAreAddedInNameOrder) {
    writeFile("b.ncc", archiveOf("second", {{"a.txt", "from b"}}).bytes());
    writeFile("a.NCC", archiveOf("first", {{"a.txt", "from a"}}).bytes());
    writeFile("z.ncc", "not an archive, but long enough to pass the size check of the reader...");
    writeFile("c.txt", "not an archive");
    initFileSystem();
    initFileSystem(); // a second start does nothing
    EXPECT_EQ(log(), "FLPL: Adding NCC file 'a.NCC': NCCF: opening archive, ID: first\n"
                     "FLPL: Adding NCC file 'b.ncc': NCCF: opening archive, ID: second\n"
                     "FLPL: Adding NCC file 'z.ncc': NCCF: archive has no valid signature\n");
    EXPECT_EQ(archiveChoiceCount(), 2);
    char text[8];
    EXPECT_EQ(archiveChoiceId(1, text, sizeof text), 1);
    EXPECT_STREQ(text, "second");
    EXPECT_EQ(archiveChoiceDescription(0, text, sizeof text), 1);
    EXPECT_STREQ(text, "about f"); // cut to the buffer, terminated
    EXPECT_EQ(archiveChoiceId(2, text, sizeof text), 0);
    EXPECT_STREQ(preferredArchiveDescription(), "about first");

    int32_t size = 0;
    Stream* stream = openFile("a.txt", &size);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(readAll(stream), "from a");
    EXPECT_EQ(size, 6);
    closeFile(stream);
    logSetFile("log.txt");
    choosePreferredArchiveById("SECOND");
    EXPECT_EQ(log(), "NCCF: setting pref archive 'second' (about second)\n");
    stream = openFile("a.txt");
    EXPECT_EQ(readAll(stream), "from b");
    closeFile(stream);
    choosePreferredArchive(0);
    EXPECT_STREQ(preferredArchiveDescription(), "about first");
    closeFileSystem();
    closeFileSystem(); // a second close does nothing
    EXPECT_EQ(openFile("a.txt"), nullptr);
    EXPECT_STREQ(preferredArchiveDescription(), "[unknown]");
}

TEST_F(Files, diskComesFirstAsGivenThenDataFolderThenBaseName) {
    fs::create_directories("DATA");
    fs::create_directories("Tex");
    writeFile("DATA/a.jpg", "data a");
    writeFile("b.jpg", "base b");
    writeFile("Tex/C.JPG", "tex c");
    writeFile("arch.ncc", archiveOf("arch", {{"tex/a.jpg", "archived a"}}).bytes());
    initFileSystem();
    logSetFile("log.txt");
    Stream* stream = openFile("tex\\a.jpg");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(readAll(stream), "data a");
    closeFile(stream);
    stream = openFile("x/y/b.jpg");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(readAll(stream), "base b");
    closeFile(stream);
    stream = openFile("tex/c.jpg"); // another letter case on disk
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(readAll(stream), "tex c");
    closeFile(stream);
    EXPECT_EQ(log(), "NCCF: opening file 'DATA/a.jpg' from disk (as 'tex/a.jpg')\n"
                     "NCCF: opening file 'b.jpg' from disk (as 'x/y/b.jpg')\n"
                     "NCCF: opening file 'tex/c.jpg' from disk\n");
    fs::remove("DATA/a.jpg");
    stream = openFile("tex/a.jpg");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(readAll(stream), "archived a");
    closeFile(stream);
}

TEST_F(Files, alternativesAreTriedLeftToRight) {
    initFileSystem();
    std::string resource = readFile(LUX_TEST_DATA "/scratch-lake.jpg");
    int32_t size = 0;
    Stream* stream = openFile("a.jpg|res:126", &size);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(size, int32_t(resource.size()));
    EXPECT_EQ(readAll(stream), resource);
    closeFile(stream);
    EXPECT_NE(log().find("NCCF: file 'a.jpg' not found.\n"), std::string::npos);

    writeFile("a.jpg", "on disk");
    stream = openFile("a.jpg|res:126");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(readAll(stream), "on disk");
    closeFile(stream);

    stream = openFile("RES:0x7E");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->size(), int32_t(resource.size()));
    closeFile(stream);
    logSetFile("log.txt");
    EXPECT_EQ(openFile("res:999|res:12x|res:"), nullptr);
    EXPECT_EQ(log(), ""); // a missing resource fails silently
}

// A corrupt method-1 header still ends start-up, and the message names the archive.
TEST(FilesDeathTest, corruptArchiveHeaderNamesTheArchive) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    enterOwnFolder();
    TestArchive archive = archiveOf("broken", {{"a.txt", "text"}});
    archive.headerMethod = 1;
    std::string packed = "\x91" + std::string(99, '\x5a');
    writeFile("broken.ncc", archive.bytes(&packed));
    EXPECT_EXIT(
        {
            setErrorDialogEnabled(false);
            initFileSystem();
        },
        testing::ExitedWithCode(1),
        "NZIP: depacker error: [A-Za-z ]+\nwhile unpacking archive 'broken.ncc'\n");
}

TEST_F(Files, requestsThatLeaveTheFolderAreRefused) {
    fs::create_directories("inner/DATA");
    writeFile("inner/a.txt", "inside");
    writeFile("inner/b.txt", "the other one");
    writeFile("outside.txt", "outside");
    fs::current_path("inner");
    initFileSystem();
    logSetFile("log.txt");
    EXPECT_EQ(openFile("../outside.txt"), nullptr);
    EXPECT_EQ(openFile("DATA/../../outside.txt"), nullptr);
    EXPECT_EQ(openFile((fs::current_path().parent_path() / "outside.txt").c_str()), nullptr);
    EXPECT_EQ(openFile("C:\\outside.txt"), nullptr);
    EXPECT_EQ(log(), "NCCF: file '../outside.txt' lies outside the production folder, not opened\n"
                     "NCCF: file 'DATA/../../outside.txt' lies outside the production folder, "
                     "not opened\n"
                     "NCCF: file '" +
                         (fs::current_path().parent_path() / "outside.txt").string() +
                         "' lies outside the production folder, not opened\n"
                         "NCCF: file 'C:\\outside.txt' lies outside the production folder, "
                         "not opened\n");
    // Climbing back down stays inside; the next alternative is still tried.
    Stream* stream = openFile("DATA/../a.txt");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(readAll(stream), "inside");
    closeFile(stream);
    stream = openFile("../outside.txt|./b.txt");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(readAll(stream), "the other one");
    closeFile(stream);
}

TEST_F(Files, acquireSharesOneStreamUntilTheLastRelease) {
    writeFile("a.txt", "shared");
    initFileSystem();
    FileSystem* files = fileSystem();
    void* first = nullptr;
    void* second = nullptr;
    int32_t size = 0;
    ASSERT_EQ(files->acquire("a.txt", &first, &size), 1);
    ASSERT_EQ(files->acquire("A.TXT", &second, &size), 1);
    EXPECT_EQ(first, second);
    EXPECT_EQ(size, 6);
    EXPECT_EQ(files->count(), 1);
    files->release(first);
    EXPECT_EQ(files->count(), 1);
    files->release(second);
    EXPECT_EQ(files->count(), 0);
    files->release(second); // no longer listed: nothing happens
    EXPECT_EQ(files->acquire("missing.txt", &first, &size), 0);
    EXPECT_EQ(files->count(), 0);
}

TEST_F(Files, namesMatchInTheirFirst255Characters) {
    initFileSystem();
    FileSystem* files = fileSystem();
    std::string name(255, 'n');
    auto* object = new MemoryStream;
    EXPECT_EQ(files->insert((name + "-one").c_str(), object, 7), 1);
    void* found = nullptr;
    int32_t size = 0;
    ASSERT_EQ(files->acquire((name + "-two").c_str(), &found, &size), 1);
    EXPECT_EQ(found, object);
    EXPECT_EQ(size, 7);
    files->release(found);
    EXPECT_EQ(files->count(), 1);
    closeFileSystem(); // unloads what is left
}

} // namespace

namespace {

// A cache that counts its loads and unloads; every name loads.
class CountingCache : public NamedCache {
  public:
    int32_t load(const char*, void** object, int32_t* size) override {
        ++loads;
        *object = new int(loads);
        *size = 4;
        return 1;
    }
    void unload(void*& object) override {
        ++unloads;
        delete static_cast<int*>(object);
        object = nullptr;
    }
    ~CountingCache() override { releaseAll(); }
    int loads = 0, unloads = 0;
};

// While kept, what the cache loaded stays for the next acquire; an object handed in with
// insert still leaves with its last reference (its owner may free it right after).
TEST(NamedCacheKeep, keptEntriesOutliveTheirLastReferenceUntilTheKeepEnds) {
    CountingCache cache;
    cache.keepUnused(true);
    void* first = nullptr;
    ASSERT_EQ(cache.acquire("a", &first, nullptr), 1);
    cache.release(first);
    EXPECT_EQ(cache.count(), 1);
    EXPECT_EQ(cache.unloads, 0);
    void* again = nullptr;
    ASSERT_EQ(cache.acquire("A", &again, nullptr), 1);
    EXPECT_EQ(again, first);
    EXPECT_EQ(cache.loads, 1);

    int* handedIn = new int(0);
    cache.insert("inserted", handedIn, 0);
    cache.release(handedIn);
    EXPECT_EQ(cache.count(), 1); // gone at once although kept
    EXPECT_EQ(cache.unloads, 1);

    void* unused = nullptr;
    ASSERT_EQ(cache.acquire("b", &unused, nullptr), 1);
    cache.release(unused);
    cache.keepUnused(false); // "b" has no reference: unloaded; "a" is held and stays
    EXPECT_EQ(cache.count(), 1);
    EXPECT_EQ(cache.unloads, 2);
    cache.release(again);
    EXPECT_EQ(cache.count(), 0);
    EXPECT_EQ(cache.unloads, 3);
}

} // namespace
