// Every failure of the index reader is produced by a real, signed file from the writer.
#include "vfs/Index.h"

#include "tools/qmrelease/Writer.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstdlib>
#include <fstream>
#include <functional>

using namespace QmRelease;
using Vfs::ReadIndex;
using Vfs::SIndex;

namespace
{
const SKeyPair& Root()
{
    static const SKeyPair root = KeyFromSeed(std::array<std::uint8_t, 32>{1, 2, 3});
    return root;
}

const SKeyPair& Worker()
{
    static const SKeyPair worker = KeyFromSeed(std::array<std::uint8_t, 32>{4, 5, 6});
    return worker;
}

Vfs::SIdentity Id(std::uint8_t first)
{
    Vfs::SIdentity id{};
    id.fill(first);
    return id;
}

SReleaseContent Content()
{
    SReleaseContent c;
    c.release = 42;
    c.word = 7;
    c.name = "Spring \xE2\x80\x94 1.2";
    c.identityUrls = {"https://id.example.com", "http://id2.example.com:8080/x"};
    c.gameHost = "play.example.com";
    c.cdnUrl = "https://cdn.example.com/live";
    c.gameKey.fill(9);
    c.containers = {{Vfs::EContainerKind::Session, 3 * Vfs::kPieceSize + 1, Id(0xA0)},
                    {Vfs::EContainerKind::Embargo, Vfs::kPieceSize, Id(0xB0)}};
    for (std::uint8_t i = 0; i < 5; ++i)
    {
        c.pieceHashes.push_back(Vfs::SPieceHash{i});
    }
    c.files = {{"Quillmere.exe", 1, 10, Id(1)}, {"Client/data/a.bin", 2, 0, Id(2)}};
    c.moves = {{Id(0xC0), 64, 1024, 4096, 0}, {Id(0xC1), 4096 * 16, 64, Vfs::kPieceSize - 64, 1}};
    c.body = Bytes(40, 0x5A);
    return c;
}

SSection& Find(SLayout& layout, const char (&tag)[5])
{
    for (SSection& s : layout.sections)
    {
        if (s.tag == MakeTag(tag))
        {
            return s;
        }
    }
    throw std::runtime_error("no such section");
}

Bytes Signed(const SLayout& layout, const SKeyPair& key = Root())
{
    Bytes file = LayOut(layout);
    AppendSignature(file, key);
    return file;
}

std::string ErrorOf(std::span<const std::uint8_t> file)
{
    const auto index = ReadIndex(file, Root().publicKey);
    EXPECT_FALSE(index);
    return index ? std::string() : index.error();
}

std::string ErrorOf(const SLayout& layout)
{
    return ErrorOf(Signed(layout));
}

std::string Mutated(const std::function<void(SLayout&)>& change)
{
    SLayout layout = Sections(Content());
    change(layout);
    return ErrorOf(layout);
}

std::string MutatedContent(const std::function<void(SReleaseContent&)>& change)
{
    SReleaseContent content = Content();
    change(content);
    return ErrorOf(Sections(content));
}

Bytes FileRecord(std::string_view path, std::uint16_t flags = 0)
{
    return FileSection({{std::string(path), flags, 1, Id(3)}});
}
}

TEST(ReadIndex, ReadsEveryMemberOfAWellFormedIndex)
{
    const Bytes file = WriteIndex(Content(), Root());
    const auto read = ReadIndex(file, Root().publicKey);
    ASSERT_TRUE(read) << read.error();
    const SIndex& index = *read;

    const std::span<const std::uint8_t> signedBytes(file.data(), file.size() - 64);
    EXPECT_EQ(index.identity, Vfs::Hash256(signedBytes));
    EXPECT_EQ(index.IdentityHex().size(), 64u);
    EXPECT_EQ(index.ReleaseNumber(), 42u);
    EXPECT_EQ(index.keyGeneration, 0u);
    EXPECT_EQ(index.identityUrls, Content().identityUrls);
    EXPECT_EQ(index.gameHost, "play.example.com");
    EXPECT_EQ(index.cdnUrl, "https://cdn.example.com/live");
    EXPECT_EQ(index.gameKey[31], 9);
    EXPECT_EQ(index.releaseWord, 7u);
    EXPECT_EQ(index.releaseName, Content().name);
    ASSERT_EQ(index.containers.size(), 2u);
    EXPECT_EQ(index.containers[0].size, 3 * Vfs::kPieceSize + 1);
    EXPECT_EQ(index.containers[1].kind, Vfs::EContainerKind::Embargo);
    // A container one byte past three pieces has four; one of exactly 1 MiB has one.
    EXPECT_EQ(index.pieceBases, (std::vector<std::uint32_t>{0, 4}));
    EXPECT_EQ(index.pieceHashes.size(), 5u);
    EXPECT_EQ(index.pieceHashes[4][0], 4);
    ASSERT_EQ(index.files.size(), 2u);
    EXPECT_EQ(index.files[0].path, "Client/data/a.bin"); // sorted by the writer
    EXPECT_EQ(index.files[1].flags, Vfs::kLauncherFlag);
    ASSERT_EQ(index.moves.size(), 2u);
    EXPECT_EQ(index.moves[1].sourceOffset, 4096u * 16);
    EXPECT_EQ(index.moves[1].destination, 1);
    EXPECT_EQ(index.body, Bytes(40, 0x5A));
    EXPECT_EQ(index.head.size(), index.BodyOffset());
    EXPECT_EQ(index.head.size() + index.body.size(), signedBytes.size());
    EXPECT_TRUE(std::equal(index.head.begin(), index.head.begin() + 64, index.header.begin()));
}

TEST(ReadIndex, OptionalPartsMayBeAbsentAndUnknownSectionsAreSkipped)
{
    SReleaseContent content = Content();
    content.cdnUrl.clear();
    SLayout layout = Sections(content);
    layout.minor = 4;
    layout.sections.insert(layout.sections.begin() + 3, SSection{MakeTag("XTRA"), 9, 0, Bytes(5, 1)});
    const Bytes file = Signed(layout);
    const auto read = ReadIndex(file, Root().publicKey);
    ASSERT_TRUE(read) << read.error();
    const SIndex& index = *read;
    EXPECT_EQ(index.cdnUrl, "");

    // A release of loose files only: no containers, no pieces, no runs.
    content.containers.clear();
    content.pieceHashes.clear();
    content.moves.clear();
    const auto loose = ReadIndex(WriteIndex(content, Root()), Root().publicKey);
    ASSERT_TRUE(loose) << loose.error();
    EXPECT_TRUE(loose->pieceHashes.empty());
}

TEST(ReadIndex, FileLength)
{
    EXPECT_EQ(ErrorOf(Bytes(127, 0)), "the file is 127 bytes");
    // 128 bytes pass the length step and fail later.
    EXPECT_EQ(ErrorOf(Bytes(128, 0)), "the signature does not verify by the trust root");
}

TEST(ReadIndex, SectionTable)
{
    EXPECT_EQ(Mutated([](SLayout& l) { l.count = 17; }), "the header: a table of 17 sections does not fit");
    // The first pass reads the table before the signature: a table past the signed bytes.
    Bytes tiny(128, 0);
    PutU32(tiny, 28, 1);
    EXPECT_EQ(ErrorOf(tiny), "the header: a table of 1 sections does not fit");

    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "NOIS").offset = Find(l, "IDNT").bytes.size() + 64 + 16 * 9 + 8; }),
        "the header: section 1 (NOIS) lies out of place");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "NOIS").offset = 64 + 16 * 9; }), // overlaps IDNT
        "the header: section 1 (NOIS) lies out of place");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "IDNT").offset = 64 + 16 * 8; }), // inside the table
        "the header: section 0 (IDNT) lies out of place");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "CDNU").length = 1 << 30; }),
        "the header: section 8 (CDNU) lies out of place");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "GAME").reserved = 1; }),
        "the header: section 4 (GAME) lies out of place");
    // A tag's odd bytes are shown as "?".
    EXPECT_EQ(Mutated([](SLayout& l) {
        l.sections.insert(l.sections.begin(), SSection{0x00412D61, 1, 1, Bytes(16, 0)});
    }),
        "the header: section 0 (a?A?) lies out of place");

    EXPECT_EQ(Mutated([](SLayout& l) { l.sections.push_back(Find(l, "FILE")); }),
        "the header: FILE is held twice or is version 1");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "CONT").version = 1; }),
        "the header: CONT is held twice or is version 1");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "MOVE").tag = MakeTag("MOVF"); }), "the header: no MOVE section");
}

TEST(ReadIndex, Certificate)
{
    SReleaseContent content = Content();
    content.certificate = MakeCertificate(Root(), 3, Worker().publicKey);
    const auto read = ReadIndex(WriteIndex(content, Worker()), Root().publicKey);
    ASSERT_TRUE(read) << read.error();
    const SIndex& index = *read;
    EXPECT_EQ(index.keyGeneration, 3u);

    // Valid certificate, index signed by the root instead of the certified key.
    EXPECT_EQ(ErrorOf(WriteIndex(content, Root())), "the signature does not verify by the certified key");
    // Certificate by another key.
    content.certificate = MakeCertificate(Worker(), 3, Worker().publicKey);
    EXPECT_EQ(ErrorOf(WriteIndex(content, Worker())), "the certificate does not verify by the trust root");
    // Generation 0, even with a valid signature; reserved bytes; wrong size.
    content.certificate = MakeCertificate(Root(), 0, Worker().publicKey);
    EXPECT_EQ(ErrorOf(WriteIndex(content, Worker())), "CERT: not one certificate");
    content.certificate = MakeCertificate(Root(), 3, Worker().publicKey);
    SLayout layout = Sections(content);
    Find(layout, "CERT").bytes[9] = 1;
    EXPECT_EQ(ErrorOf(Signed(layout, Worker())), "CERT: not one certificate");
    layout = Sections(content);
    Find(layout, "CERT").bytes.pop_back();
    EXPECT_EQ(ErrorOf(Signed(layout, Worker())), "CERT: not one certificate");
    // Two certificates are caught by the first pass.
    layout = Sections(content);
    layout.sections.push_back(Find(layout, "CERT"));
    EXPECT_EQ(ErrorOf(Signed(layout, Worker())), "the header: CERT is held twice or is version 1");
    // A certificate placed in the body passes the first pass and fails the second.
    layout = Sections(content);
    std::rotate(layout.sections.begin(), layout.sections.begin() + 1, layout.sections.end());
    layout.bodyOffset = LayOut(layout).size() - layout.body.size() - 112;
    layout.bodyLength = layout.body.size() + 112;
    EXPECT_EQ(ErrorOf(Signed(layout, Worker())), "the header: section 9 (CERT) lies out of place");
}

TEST(ReadIndex, SignatureIsCheckedBeforeAnythingIsInterpreted)
{
    Bytes file = WriteIndex(Content(), Worker());
    EXPECT_EQ(ErrorOf(file), "the signature does not verify by the trust root");
    file = WriteIndex(Content(), Root());
    file[file.size() - 65] ^= 1; // the body, which the reader otherwise never looks at
    EXPECT_EQ(ErrorOf(file), "the signature does not verify by the trust root");
    file = WriteIndex(Content(), Root());
    file[0] = 'X'; // a wrong magic is not even looked at
    EXPECT_EQ(ErrorOf(file), "the signature does not verify by the trust root");
    file = WriteIndex(Content(), Root());
    file.back() ^= 0x80;
    EXPECT_EQ(ErrorOf(file), "the signature does not verify by the trust root");
}

TEST(ReadIndex, HeaderBodyAndVersion)
{
    EXPECT_EQ(Mutated([](SLayout& l) { l.magic = "QMVFSIDY"; }), "not an index of major 1 (major 1)");
    EXPECT_EQ(Mutated([](SLayout& l) { l.major = 2; }), "not an index of major 1 (major 2)");
    EXPECT_EQ(Mutated([](SLayout& l) { l.headerSize = 80; }), "not an index of major 1 (major 1)");
    EXPECT_EQ(Mutated([](SLayout& l) { l.reserved[15] = 1; }), "not an index of major 1 (major 1)");

    const std::string body = "the body lies out of place";
    EXPECT_EQ(Mutated([](SLayout& l) { l.bodyOffset = LayOut(l).size() - 32 - 8 + 8; }), body); // misaligned
    EXPECT_EQ(Mutated([](SLayout& l) { l.bodyLength = 41; }), body);
    EXPECT_EQ(Mutated([](SLayout& l) { l.body.resize(31); }), body);
    EXPECT_EQ(Mutated([](SLayout& l) { l.bodyOffset = 64; l.bodyLength = LayOut(l).size() - 64; }), body);
    EXPECT_EQ(Mutated([](SLayout& l) { l.bodyOffset = LayOut(l).size() + 16; l.bodyLength = 0; }), body);

    EXPECT_EQ(Mutated([](SLayout& l) { l.minor = 2; }),
        "an index of minor 2, where this reader takes 3: build the release again");
}

TEST(ReadIndex, IdentityUrls)
{
    const std::string none = "IDNT: no URL, or more than the reader takes";
    EXPECT_EQ(MutatedContent([](auto& c) { c.identityUrls.clear(); }), none);
    EXPECT_EQ(MutatedContent([](auto& c) { c.identityUrls.assign(17, "https://a"); }), none);
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "IDNT").bytes = {1, 0, 0}; }), none);

    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "IDNT").bytes.resize(Find(l, "IDNT").bytes.size() - 1); }),
        "IDNT: URL 1 passes the section's end");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "IDNT").bytes.resize(4 + 4 + 22 + 3); }),
        "IDNT: URL 1 passes the section's end");
    for (const std::string& url : std::vector<std::string>{"ftp://a.example.com", "https://a b", "https://" + std::string(505, 'a'), std::string("")})
    {
        EXPECT_EQ(MutatedContent([&](auto& c) { c.identityUrls[1] = url; }), "IDNT: URL 1 is not one") << url;
    }
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "IDNT").bytes[6] = 1; }), "IDNT: URL 0 is not one");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "IDNT").bytes.push_back(0); }), "IDNT: bytes after the last URL");
    // 512 bytes is the longest URL.
    SReleaseContent c = Content();
    c.identityUrls[0] = "https://" + std::string(504, 'a');
    const auto read = ReadIndex(WriteIndex(c, Root()), Root().publicKey);
    ASSERT_TRUE(read) << read.error();
}

TEST(ReadIndex, GameHost)
{
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "GAME").bytes.push_back('x'); }), "GAME: not one host");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "GAME").bytes[2] = 1; }), "GAME: not one host");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "GAME").bytes = {0, 0, 0}; }), "GAME: not one host");
    for (const std::string& host : std::vector<std::string>{"", "a..b", ".a", "a.", "a_b", "a b", std::string(254, 'a')})
    {
        EXPECT_EQ(MutatedContent([&](auto& c) { c.gameHost = host; }), "GAME: its host is no DNS name or IPv4 address")
            << host;
    }
    SReleaseContent c = Content();
    c.gameHost = "10.0.0.1";
    const auto read = ReadIndex(WriteIndex(c, Root()), Root().publicKey);
    ASSERT_TRUE(read) << read.error();
}

TEST(ReadIndex, Containers)
{
    const std::string count = "CONT: its count does not match its records";
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "CONT").bytes[0] = 3; }), count);
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "CONT").bytes[15] = 1; }), count);
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "CONT").bytes.push_back(0); }), count);
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "CONT").bytes.resize(15); }), count);
    EXPECT_EQ(Mutated([](SLayout& l) {
        auto& b = Find(l, "CONT").bytes;
        PutU32(b, 0, 4097);
        b.resize(16 + 48 * 4097);
    }),
        count);

    const std::string second = "CONT: container 1 is not well formed";
    EXPECT_EQ(MutatedContent([](auto& c) { c.containers[1].kind = static_cast<Vfs::EContainerKind>(4); }), second);
    EXPECT_EQ(MutatedContent([](auto& c) { c.containers[1].size = 63; }), second);
    EXPECT_EQ(MutatedContent([](auto& c) { c.containers[1].size = Vfs::kMaxContainerSize + 1; }), second);
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "CONT").bytes[16 + 48 + 5] = 1; }), second);

    EXPECT_EQ(MutatedContent([](auto& c) {
        c.containers[1].identity = c.containers[0].identity;
        c.containers[1].identity[8] ^= 1; // only the first 8 bytes name a container
    }),
        "CONT: embargo_a0a0a0a0a0a0a0a0.quillmerepack is named twice");
}

TEST(ReadIndex, ReleaseName)
{
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "STRS").bytes.push_back('x'); }), "STRS: its sizes do not match");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "STRS").bytes[7] = 1; }), "STRS: its sizes do not match");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "STRS").bytes.resize(7); }), "STRS: its sizes do not match");
    const std::string bad = "STRS: the release has no name, or one that is not UTF-8";
    for (const std::string& name : std::vector<std::string>{"", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xE2\x80", "\x80", "\xFF"})
    {
        EXPECT_EQ(MutatedContent([&](auto& c) { c.name = name; }), bad);
    }
    SReleaseContent c = Content();
    c.name = "\xF0\x9F\x8E\xAE \xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF";
    const auto read = ReadIndex(WriteIndex(c, Root()), Root().publicKey);
    ASSERT_TRUE(read) << read.error();
}

TEST(ReadIndex, PieceHashes)
{
    EXPECT_EQ(MutatedContent([](auto& c) { c.pieceHashes.pop_back(); }),
        "PIEC: 64 bytes, where the containers have 5 pieces");
    EXPECT_EQ(MutatedContent([](auto& c) { c.containers[1].size += 1; }),
        "PIEC: 80 bytes, where the containers have 6 pieces");
}

TEST(ReadIndex, Files)
{
    const std::string count = "FILE: its count is not well formed";
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "FILE").bytes.resize(15); }), count);
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "FILE").bytes[8] = 1; }), count);
    EXPECT_EQ(Mutated([](SLayout& l) { PutU32(Find(l, "FILE").bytes, 0, 4097); }), count);

    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "FILE").bytes = FileRecord("a", 4); }),
        "FILE: file 0 is not well formed");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "FILE").bytes = FileRecord("a"); Find(l, "FILE").bytes[16 + 5] = 1; }),
        "FILE: file 0 is not well formed");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "FILE").bytes = FileRecord("a"); Find(l, "FILE").bytes.back() = 1; }),
        "FILE: file 0 is not well formed"); // padding not zero
    EXPECT_EQ(Mutated([](SLayout& l) { PutU32(Find(l, "FILE").bytes, 0, 3); }), "FILE: file 2 passes the section's end");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "FILE").bytes = FileRecord("abc"); Find(l, "FILE").bytes.resize(16 + 48 + 8); }),
        "FILE: file 0 passes the section's end");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "FILE").bytes.resize(Find(l, "FILE").bytes.size() + 16); }),
        "FILE: bytes after the last file");

    for (const std::string& path : std::vector<std::string>{"Client/pack/x", "client/PACK/release.quillmereindex", "./a", "a/./b", "a/../b", "..", "a//b", "a\\b", "a:b", "a b", "/a",
             "a/", "", std::string(261, 'a'), "a\x7F"})
    {
        EXPECT_EQ(Mutated([&](SLayout& l) { Find(l, "FILE").bytes = FileRecord(path); }),
            "FILE: file 0's path is not well formed, or not in order")
            << path;
    }
    const auto inOrder = [](std::vector<std::string> paths) {
        SReleaseContent c = Content();
        c.files.clear();
        for (const auto& p : paths)
        {
            c.files.push_back({p, 0, 1, Id(1)});
        }
        SLayout l = Sections(c);
        Find(l, "FILE").bytes = FileSection(c.files); // keep the given order
        return ErrorOf(Signed(l));
    };
    EXPECT_EQ(inOrder({"a/b", "a"}), "FILE: file 1's path is not well formed, or not in order");
    EXPECT_EQ(inOrder({"a", "a"}), "FILE: file 1's path is not well formed, or not in order");
    // Accepted: prefix first, Client/packs/, the longest path.
    SReleaseContent c = Content();
    c.files = {{"a", 0, 1, Id(1)}, {"a.b/c", 0, 1, Id(1)}, {"Client/packs/x", 0, 1, Id(1)},
        {std::string(200, 'z') + "/" + std::string(59, 'z'), 0, 1, Id(1)}};
    const auto read = ReadIndex(WriteIndex(c, Root()), Root().publicKey);
    ASSERT_TRUE(read) << read.error();
}

TEST(ReadIndex, FilesWindowsCannotHoldAreRefusedAtReadTime)
{
    const auto error = [](std::vector<Vfs::SFile> files) {
        SReleaseContent c = Content();
        c.files = std::move(files);
        const auto read = ReadIndex(WriteIndex(c, Root()), Root().publicKey);
        return read ? std::string() : read.error();
    };
    const auto one = [&](std::string path, std::uint16_t flags = 0) { return error({{path, flags, 1, Id(1)}}); };
    for (const char* path : {"a./b", "a/b.", "CON", "data/nul.txt", "Lpt1.x.y", "com9", "conin$", "a<b", "a>b",
             "a\"b", "a|b", "a?b", "a*b"})
    {
        EXPECT_EQ(one(path), "FILE: file 0's path cannot be a file on Windows") << path;
    }
    EXPECT_EQ(one(std::string(256, 'x') + "/y"), "FILE: file 0's path cannot be a file on Windows");
    for (const char* path : {"patch.journal", "PATCH.STATE", "Quillmere.cfg", "quillmere.exe", "Quillmere.exe.old",
             "patch.journal/x", "Client", "client/Pack"})
    {
        EXPECT_EQ(one(path), "FILE: file 0's path is the launcher's own") << path;
    }
    EXPECT_EQ(one("Quillmere.exe.bad", 1), "FILE: file 0's path is the launcher's own");
    EXPECT_EQ(one("Quillmere.exe/x", 1), "FILE: file 0's path is the launcher's own");
    EXPECT_EQ(one("Quillmere.exe", 1), "");

    // One file under two cases, and a file that another file needs as its folder.
    EXPECT_EQ(error({{"A.txt", 0, 1, Id(1)}, {"a.txt", 0, 1, Id(1)}}), "FILE: file 1 and file 0 are one path on Windows");
    EXPECT_EQ(error({{"a", 0, 1, Id(1)}, {"a-x", 0, 1, Id(1)}, {"a/b", 0, 1, Id(1)}}),
        "FILE: file 2 and file 0 are one path on Windows");
    EXPECT_EQ(error({{"D/x/y", 0, 1, Id(1)}, {"d/x", 0, 1, Id(1)}}), "FILE: file 1 and file 0 are one path on Windows");
    EXPECT_EQ(error({{"Dir/x", 0, 1, Id(1)}, {"dir/y", 0, 1, Id(1)}, {"dirt", 0, 1, Id(1)}}), "");
}

TEST(ReadIndex, MoveRuns)
{
    const std::string count = "MOVE: its count does not match its records";
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "MOVE").bytes[0] = 3; }), count);
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "MOVE").bytes[4] = 1; }), count);
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "MOVE").bytes.resize(15); }), count);

    const auto run = [](const std::function<void(Vfs::SMoveRun&)>& change) {
        return MutatedContent([&](auto& c) { change(c.moves[1]); });
    };
    const std::string bad = "MOVE: run 1 is not well formed";
    EXPECT_EQ(run([](auto& m) { m.destination = 2; }), bad);
    EXPECT_EQ(run([](auto& m) { m.length = 0; }), bad);
    EXPECT_EQ(run([](auto& m) { m.sourceOffset = 72; }), bad);
    EXPECT_EQ(run([](auto& m) { m.sourceOffset = 48; }), bad);
    EXPECT_EQ(run([](auto& m) { m.destinationOffset = 0; }), bad);
    EXPECT_EQ(run([](auto& m) { m.destinationOffset = 65; }), bad);
    EXPECT_EQ(run([](auto& m) { m.length += 1; }), bad); // one byte past the container
    EXPECT_EQ(run([](auto& m) { m.destinationOffset = std::uint64_t{1} << 63; m.length = std::uint64_t{1} << 63; }), bad);
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "MOVE").bytes[16 + 64 + 60] = 1; }), bad);
}

TEST(ReadIndex, CdnAndGameKey)
{
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "CDNU").bytes.push_back('x'); }), "CDNU: its sizes do not match");
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "CDNU").bytes[3] = 1; }), "CDNU: its sizes do not match");
    for (const std::string& url : std::vector<std::string>{"http://cdn.example.com", "https:/", "https://a b", "https://" + std::string(505, 'a')})
    {
        EXPECT_EQ(MutatedContent([&](auto& c) { c.cdnUrl = url; }), "CDNU: not an https:// URL") << url;
    }
    EXPECT_EQ(Mutated([](SLayout& l) { Find(l, "NOIS").bytes.pop_back(); }), "NOIS: not one public key");
}

TEST(CheckNewIndex, RatchetsInOrder)
{
    SReleaseContent content = Content();
    content.certificate = MakeCertificate(Root(), 3, Worker().publicKey);
    const auto read = ReadIndex(WriteIndex(content, Worker()), Root().publicKey);
    ASSERT_TRUE(read) << read.error();
    const SIndex& index = *read;
    const std::string hex = index.IdentityHex();

    // The refusal's text; empty when the index is taken.
    const auto check = [&](std::string_view release, std::uint64_t number, Vfs::STaken taken) {
        const auto checked = Vfs::CheckNewIndex(index, release, number, taken);
        return checked ? std::string() : checked.error();
    };
    const std::string named = "the CDN's index is not the release the service named";
    EXPECT_EQ(check(hex, 41, {}), named);
    std::string other = hex;
    other[5] = other[5] == '0' ? '1' : '0';
    EXPECT_EQ(check(other, 42, {}), named);

    EXPECT_EQ(check(hex, 42, {42, 3}), ""); // same release, same generation
    EXPECT_EQ(check(hex, 42, {1, 2}), "");
    EXPECT_EQ(check(hex, 42, {43, 0}), "release 42 is older than release 43, which this launcher has taken");
    EXPECT_EQ(check(hex, 42, {1, 2, "PLAY.example.com"}), "");
    EXPECT_EQ(check(hex, 42, {43, 4, "other.example.com"}),
        "the new index is for the game at play.example.com, not for this launcher's game at other.example.com");
    EXPECT_EQ(check(hex, 42, {40, 4}),
        "the new index is signed by the key of generation 3, which the root has replaced by generation 4");
}

TEST(TrustRoot, IsThePublicKeyOfTheDevelopmentRootUnlessReplaced)
{
    const char* source = std::getenv("QM_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream in(std::string(source) + "/vfs/tests/fixtures/dev-root.key");
    std::string line, seedHex;
    while (std::getline(in, line))
    {
        if (!line.empty() && line[0] != '#')
        {
            seedHex = line;
        }
    }
    const auto seed = FromHex(seedHex);
    ASSERT_TRUE(seed && seed->size() == 32);
    const SKeyPair dev = KeyFromSeed(std::span<const std::uint8_t, 32>(seed->data(), 32));
    const auto root = Vfs::TrustRoot();
    if (!std::equal(root.begin(), root.end(), dev.publicKey.begin()))
    {
        EXPECT_FALSE(Vfs::IsDevelopmentBuild());
        EXPECT_EQ(Vfs::MarkDevelopmentBuild("Spring 1.2"), "Spring 1.2");
        GTEST_SKIP() << "built with a publisher's own trust root";
    }
    // Nobody ships this build unknowingly: its window says what it is.
    EXPECT_TRUE(Vfs::IsDevelopmentBuild());
    EXPECT_EQ(Vfs::MarkDevelopmentBuild("Spring 1.2"), "Spring 1.2 (development build)");
    EXPECT_EQ(Vfs::MarkDevelopmentBuild(""), "development build");
}
