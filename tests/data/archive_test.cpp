#include "data/archive.h"

#include "archive_builder.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/resource.h>

namespace {

// A MemoryStream over its own copy of the bytes that counts how many were destroyed.
class OwnedBytes : public MemoryStream {
  public:
    static inline int destroyed = 0;
    explicit OwnedBytes(const std::string& bytes) : copy(bytes) {
        attach(copy.data(), int32_t(copy.size()), false);
    }
    ~OwnedBytes() override { ++destroyed; }

  private:
    std::string copy;
};

class ArchiveReader : public ::testing::Test {
  protected:
    void SetUp() override {
        enterOwnFolder();
        logSetFile("archive.txt");
    }
    std::string log() { return readFile("archive.txt"); }
    int32_t add(const std::string& bytes) { return set.addArchive(new OwnedBytes(bytes), true); }
    ArchiveSet set;
};

TEST_F(ArchiveReader, sixtyThreeBytesAreTooSmallSixtyFourPassTheSizeCheck) {
    TestArchive archive;
    std::string bytes = archive.bytes();
    ASSERT_GE(bytes.size(), 64u);
    EXPECT_EQ(add(bytes.substr(0, 63)), 0);
    EXPECT_EQ(log(), "NCCF: archive file too small / corrupt\n");
    logSetFile("archive.txt");
    EXPECT_EQ(add(bytes.substr(0, 64)), 0); // fails later: the header block is cut short
    EXPECT_EQ(log(), "NCCF: error while decompressing archive header\n");
    EXPECT_TRUE(set.archives().empty());
}

TEST_F(ArchiveReader, versionsZeroAndOneAreAcceptedTwoIsNot) {
    TestArchive archive; // offsets 30, 45 and 46 hold arbitrary bytes
    archive.version = 0;
    archive.id = "v0";
    EXPECT_EQ(add(archive.bytes()), 1);
    archive.version = 1;
    archive.id = "v1";
    EXPECT_EQ(add(archive.bytes()), 1);
    archive.version = 2;
    archive.id = "v2";
    EXPECT_EQ(add(archive.bytes()), 0);
    EXPECT_EQ(log(), "NCCF: opening archive, ID: v0\nNCCF: opening archive, ID: v1\n"
                     "NCCF: archive has too high version number\n");
    EXPECT_EQ(set.archives().size(), 2u);
}

TEST_F(ArchiveReader, everySignatureByteCounts) {
    std::string bytes = TestArchive().bytes();
    bytes[29] = 0x1b;
    EXPECT_EQ(add(bytes), 0);
    EXPECT_EQ(log(), "NCCF: archive has no valid signature\n");
}

TEST_F(ArchiveReader, storedHeaderWithDifferentSizesIsRejected) {
    TestArchive archive;
    std::string block = archive.headerBlock();
    EXPECT_EQ(add(archive.bytes(&block, int64_t(block.size()) + 1)), 0);
    EXPECT_EQ(log(), "NCCF: error while decompressing archive header\n");
}

TEST_F(ArchiveReader, unknownHeaderMethodFailsTheIntegrityCheck) {
    TestArchive archive;
    archive.headerMethod = 3;
    EXPECT_EQ(add(archive.bytes()), 0);
    EXPECT_EQ(log(), "NCCF: header integrity check failed\n");
}

TEST_F(ArchiveReader, secondArchiveWithTheSameIdIsSkippedAndItsStreamClosed) {
    TestArchive archive;
    archive.id = "Demo";
    EXPECT_EQ(add(archive.bytes()), 1);
    archive.id = "dEMO";
    archive.members = {{"a.txt", "abc"}};
    int before = OwnedBytes::destroyed;
    EXPECT_EQ(add(archive.bytes()), 0);
    EXPECT_EQ(OwnedBytes::destroyed, before + 1);
    EXPECT_EQ(log(), "NCCF: opening archive, ID: Demo\n"
                     "NCCF: archive with id 'dEMO' already exists, skipping\n");
    EXPECT_EQ(set.archives().size(), 1u);
    EXPECT_TRUE(set.files().empty());
}

TEST_F(ArchiveReader, archiveWithoutEntriesIsAccepted) {
    TestArchive archive;
    EXPECT_EQ(add(archive.bytes()), 1);
    EXPECT_EQ(log(), "NCCF: opening archive, ID: demo\n"); // 47 + header: no size warning
    EXPECT_TRUE(set.files().empty());
    EXPECT_STREQ(set.archives()[0]->description, "A demo");
    EXPECT_STREQ(set.archives()[0]->patchTarget, "");
}

TEST_F(ArchiveReader, dataOffsetsFollowTheHeaderInDirectoryOrder) {
    TestArchive archive;
    archive.members = {{"one", std::string(10, '1')}, {"two", std::string(20, '2')}};
    // pad the description so that the header block is exactly 100 bytes
    archive.description = "";
    size_t fixedPart = archive.headerBlock().size();
    archive.description = std::string(100 - fixedPart, 'd');
    ASSERT_EQ(archive.headerBlock().size(), 100u);
    EXPECT_EQ(add(archive.bytes()), 1);
    ASSERT_EQ(set.files().size(), 2u);
    EXPECT_EQ(set.files()[0]->offset, 147);
    EXPECT_EQ(set.files()[1]->offset, 157);
    EXPECT_EQ(log().find("warning"), std::string::npos);

    archive.id = "omed"; // same length: the same offsets
    archive.trailing = "x";
    EXPECT_EQ(add(archive.bytes()), 1); // a warning only
    EXPECT_NE(log().find("NCCF: warning: archive 'omed' has different total size (178) than "
                         "expected (177)\n"),
              std::string::npos);
}

TEST_F(ArchiveReader, hugeStringLengthIsRefusedWithoutAllocating) {
    TestArchive archive;
    std::string bytes = archive.bytes();
    bytes[47 + 8] = bytes[47 + 9] = bytes[47 + 10] = bytes[47 + 11] = char(0xff); // description
    EXPECT_EQ(add(bytes), 0);
    EXPECT_EQ(log(), "NCCF: archive header strings corrupt\n");
}

TEST_F(ArchiveReader, stringsWithoutTheirZeroByteAreTerminated) {
    // id length 3 without a zero: the reader must not run past it
    std::string block;
    TestArchive::putU32(block, 3);
    TestArchive::putU32(block, 1);
    TestArchive::putU32(block, 2);
    TestArchive::putU32(block, 0);
    block += "abc";
    block += '\0';
    block += "zz";
    EXPECT_EQ(add(TestArchive().bytes(&block, int64_t(block.size()))), 1);
    ASSERT_EQ(set.archives().size(), 1u);
    EXPECT_STREQ(set.archives()[0]->id, "abc");
    EXPECT_STREQ(set.archives()[0]->description, "zz");
}

TEST_F(ArchiveReader, hugeEntryCountEndsAtTheFirstMissingEntry) {
    TestArchive archive;
    archive.members = {{"a", "1"}};
    std::string bytes = archive.bytes();
    bytes[47 + 12] = bytes[47 + 13] = bytes[47 + 14] = bytes[47 + 15] = char(0xff);
    EXPECT_EQ(add(bytes), 0);
    EXPECT_NE(log().find("NCCF: could not read dir entry\n"), std::string::npos);
    EXPECT_TRUE(set.archives().empty());
    EXPECT_TRUE(set.files().empty());
}

TEST_F(ArchiveReader, hugeNameLengthIsReportedAsUnreadableName) {
    TestArchive archive;
    archive.members = {{"a", "1"}, {"b", "2"}};
    std::string bytes = archive.bytes();
    size_t secondEntry = 47 + 16 + 5 + 1 + 7 + 16 + 2; // counts, strings, first entry
    bytes[secondEntry + 3] = char(0x7f);
    EXPECT_EQ(add(bytes), 0);
    EXPECT_NE(log().find("NCCF: could not read dir entry name\n"), std::string::npos);
    EXPECT_TRUE(set.files().empty());
}

// A header block of a few bytes that claims 2 GiB unpacked: refused as corrupt before that
// much memory is asked for. Under an address-space limit, reserving first would fail as an
// allocation error instead (the sanitizer's own reservations do not fit such a limit).
TEST(ArchiveReaderDeathTest, hugeClaimedHeaderIsRefusedBeforeItsMemoryIsReserved) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limit and address sanitizer do not mix";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TestArchive archive;
    archive.headerMethod = 1;
    std::string packed = "BZh91AY&SY" + std::string(132, '\x5a'); // 142 bytes of method-1 data
    std::string bytes = archive.bytes(&packed, 0x7fffffff);
    ASSERT_EQ(bytes.size(), 189u);
    EXPECT_EXIT(
        {
            rlimit limit;
            limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;
            setrlimit(RLIMIT_AS, &limit);
            setErrorDialogEnabled(false);
            logSetFile("huge-header.txt");
            ArchiveSet tool;
            tool.depackers = nonFatalDepackerFor;
            if (tool.addArchive(new OwnedBytes(bytes), true) != 0) _exit(3);
            closeLog();
            if (readFile("huge-header.txt") != "NZIP: depacker error: Data error\n"
                                               "NCCF: error while decompressing archive header\n")
                _exit(4);
            ArchiveSet player;
            player.addArchive(new OwnedBytes(bytes), true);
            _exit(5);
        },
        testing::ExitedWithCode(1), "NZIP: depacker error: Data error");
}

} // namespace
