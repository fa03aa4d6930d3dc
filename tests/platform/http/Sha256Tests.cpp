#include "platform/http/Sha256.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace pelora::http {
namespace {

using pelora::testing::TempDir;
using pelora::testing::writeFile;

TEST(Sha256Test, KnownDigestsOfBytes) {
    struct Case {
        std::string input;
        std::string digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sha256Hex(c.input), c.digest) << "input: " << c.input;
    }
}

TEST(Sha256Test, FileDigestEqualsDigestOfItsBytesAcrossReadBlocks) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i) bytes.push_back(static_cast<char>((i * 131) & 0xff));
    writeFile(dir / "big.bin", bytes);
    writeFile(dir / "empty.bin", "");
    EXPECT_EQ(sha256HexOfFile(dir / "big.bin"), sha256Hex(bytes));
    EXPECT_EQ(sha256HexOfFile(dir / "empty.bin"), sha256Hex(""));
}

TEST(Sha256Test, UnreadableFileHasNoDigest) {
    TempDir dir;
    EXPECT_EQ(sha256HexOfFile(dir / "missing.bin"), std::nullopt);
    EXPECT_EQ(sha256HexOfFile(dir.path()), std::nullopt) << "a folder is not a file";
}

}  // namespace
}  // namespace pelora::http
