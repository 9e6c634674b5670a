#include <gtest/gtest.h>

#include <zlib.h>

#include <QByteArray>

#include <filesystem>
#include <string>

#include "console/jobs/PageDecoder.h"
#include "tests/core/crypto/CryptoTestSupport.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::ScratchDirectory;

std::string gzipped(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

class PageDecoderTest : public ::testing::Test {
  protected:
    fs::path file(const std::string& name) const { return scratch_.path() / name; }
    ScratchDirectory scratch_{"velmora-decoder"};
};

TEST_F(PageDecoderTest, UnpacksAGzipStreamIntoANewFile) {
    std::string page(300000, '\0');
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<char>((i * 7919) % 251);
    ScratchDirectory::writeFile(file("1.emf.enc"), gzipped(page));
    std::string error;
    ASSERT_TRUE(PageDecoder::unpack(file("1.emf.enc"), file("1.emf.tmp"), error)) << error;
    EXPECT_EQ(ScratchDirectory::readFile(file("1.emf.tmp")), page);
    EXPECT_EQ(fs::status(file("1.emf.tmp")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(PageDecoderTest, AnythingButACompleteGzipStreamWithinTheBoundFailsAndLeavesNoOutput) {
    const std::string whole = gzipped(std::string(5000, 'a'));
    struct Case {
        const char* name;
        std::string packed;
        uint64_t maxBytes;
    };
    for (const Case& c :
         {Case{"not packed at all", "BM plain bitmap bytes", 1 << 20}, Case{"empty", "", 1 << 20},
          Case{"cut short", whole.substr(0, whole.size() - 9), 1 << 20},
          Case{"damaged", whole.substr(0, 12) + std::string(20, 'x'), 1 << 20},
          Case{"unpacks beyond the bound", whole, 4999}}) {
        SCOPED_TRACE(c.name);
        ScratchDirectory::writeFile(file("p.enc"), c.packed);
        std::string error;
        EXPECT_FALSE(PageDecoder::unpack(file("p.enc"), file("p.tmp"), error, c.maxBytes));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(fs::exists(file("p.tmp")));
    }
    std::string error;
    EXPECT_TRUE(PageDecoder::unpack(file("p.enc"), file("p.tmp"), error, 5000)) << error;
}

TEST_F(PageDecoderTest, AStaleFileOrLinkAtTheOutputNameIsReplacedNeverFollowed) {
    ScratchDirectory::writeFile(file("victim"), "keep me");
    fs::create_symlink(file("victim"), file("out.tmp"));
    ScratchDirectory::writeFile(file("in.enc"), gzipped("page"));
    std::string error;
    ASSERT_TRUE(PageDecoder::unpack(file("in.enc"), file("out.tmp"), error)) << error;
    EXPECT_EQ(ScratchDirectory::readFile(file("victim")), "keep me");
    EXPECT_FALSE(fs::is_symlink(file("out.tmp")));
    EXPECT_EQ(ScratchDirectory::readFile(file("out.tmp")), "page");

    // A packed page that is itself a link to a file elsewhere is not read.
    fs::create_symlink(file("in.enc"), file("link.enc"));
    EXPECT_FALSE(PageDecoder::unpack(file("link.enc"), file("other.tmp"), error));
}

TEST_F(PageDecoderTest, DecryptsWithTheBase64KeyAndRefusesUnusableKeys) {
    const test::Bytes key = test::randomBytes(32, 5);
    const test::Bytes plain = test::randomBytes(40000, 6);
    test::writeFile(file("1.emf.enc"), test::opensslJobFile(plain, key));
    const std::string keyText =
        QByteArray(reinterpret_cast<const char*>(key.data()), static_cast<qsizetype>(key.size()))
            .toBase64()
            .toStdString();
    // A leftover of an earlier attempt does not stop the cipher, which only creates new files.
    ScratchDirectory::writeFile(file("1.emf.enc.tmp"), "stale");
    std::string error;
    ASSERT_TRUE(PageDecoder::decrypt(file("1.emf.enc"), file("1.emf.enc.tmp"), keyText, error))
        << error;
    EXPECT_EQ(test::readFile(file("1.emf.enc.tmp")), plain);

    for (const std::string& bad :
         {std::string(""), std::string("QUJD"), std::string("not base64!")}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(PageDecoder::decrypt(file("1.emf.enc"), file("x.tmp"), bad, error));
        EXPECT_FALSE(fs::exists(file("x.tmp")));
    }
}

}  // namespace
}  // namespace velmora::console
