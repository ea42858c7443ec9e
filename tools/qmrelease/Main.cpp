// qmrelease: the publisher's release builder.
//   qmrelease keys new OUT.key                        make a key pair (root or working key)
//   qmrelease keys public KEY                         print a key file's public key
//   qmrelease keys certify ROOT.key WORK.key GEN OUT.cert
//                                                     the root certifies a working key under
//                                                     key generation GEN (112-byte CERT)
//   qmrelease build DESCRIPTION OUTDIR --key KEY [--cert CERT] [--previous INDEX] [--root HEX]
//                                                     write the release into the CDN tree
//                                                     OUTDIR (c/, f/, i/, t/); with --previous,
//                                                     move runs from that release's containers
//   qmrelease delta OLD_INDEX NEW_INDEX [--root HEX]  bytes a player on OLD fetches for NEW
//   qmrelease verify FILE [--root HEX]                read an index as the launcher does; in a
//                                                     CDN tree, check the tree file (t/) of
//                                                     every container against its piece hashes
// --root defaults to the trust root this build carries. Exit status 0 or 1 (2: usage).
#include "tools/qmrelease/Release.h"
#include "vfs/PieceTree.h"

#include <fmt/format.h>

#include <cstdio>
#include <map>

namespace
{
using namespace QmRelease;
namespace fs = std::filesystem;

int Usage()
{
    std::fputs("usage: qmrelease keys new|public|certify ... | build DESCRIPTION OUTDIR --key KEY [--cert CERT] "
               "[--previous INDEX] [--root HEX] | delta OLD NEW [--root HEX] | verify FILE [--root HEX]\n",
        stderr);
    return 2;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "qmrelease: %s\n", message.c_str());
    return 1;
}

struct SArgs
{
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
};

std::optional<SArgs> Split(int argc, char** argv, int from)
{
    SArgs a;
    for (int i = from; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg.starts_with("--"))
        {
            if (i + 1 >= argc)
            {
                return std::nullopt;
            }
            a.options[arg.substr(2)] = argv[++i];
        }
        else
        {
            a.positional.push_back(arg);
        }
    }
    return a;
}

std::optional<std::array<std::uint8_t, 32>> Root(const SArgs& a)
{
    std::array<std::uint8_t, 32> root{};
    const auto it = a.options.find("root");
    if (it == a.options.end())
    {
        const auto built = Vfs::TrustRoot();
        std::copy(built.begin(), built.end(), root.begin());
        return root;
    }
    const auto bytes = FromHex(it->second);
    if (!bytes || bytes->size() != 32)
    {
        return std::nullopt;
    }
    std::copy(bytes->begin(), bytes->end(), root.begin());
    return root;
}

int Keys(const SArgs& a)
{
    const auto& p = a.positional;
    if (p.size() == 2 && p[0] == "new")
    {
        const SKeyPair key = MakeKeyPair();
        if (!WriteKeyFile(p[1], key, "Ed25519 private key (RFC 8032 seed); keep it secret"))
        {
            return Fail(fmt::format("{} could not be written (it must not exist yet)", p[1]));
        }
        std::printf("%s\n", Vfs::ToHex(key.publicKey).c_str());
        return 0;
    }
    if (p.size() == 2 && p[0] == "public")
    {
        const auto key = ReadKeyFile(p[1]);
        if (!key)
        {
            return Fail(key.error());
        }
        std::printf("%s\n", Vfs::ToHex(key->publicKey).c_str());
        return 0;
    }
    if (p.size() == 5 && p[0] == "certify")
    {
        const auto root = ReadKeyFile(p[1]);
        const auto work = ReadKeyFile(p[2]);
        if (!root || !work)
        {
            return Fail(!root ? root.error() : work.error());
        }
        const auto generation = std::strtoul(p[3].c_str(), nullptr, 10);
        if (generation == 0 || generation > 0xFFFFFFFFul)
        {
            return Fail("the key generation is 1 to 4294967295");
        }
        const auto cert = MakeCertificate(*root, static_cast<std::uint32_t>(generation), work->publicKey);
        if (!WriteBytes(p[4], cert))
        {
            return Fail(fmt::format("{} could not be written", p[4]));
        }
        std::printf("generation %lu certifies %s\n", generation, Vfs::ToHex(work->publicKey).c_str());
        return 0;
    }
    return Usage();
}

int BuildCommand(const SArgs& a)
{
    if (a.positional.size() != 2 || !a.options.contains("key"))
    {
        return Usage();
    }
    const fs::path descriptionPath = a.positional[0];
    const auto text = ReadBytes(descriptionPath);
    if (!text)
    {
        return Fail(text.error());
    }
    const auto description = ParseDescription(std::string_view(reinterpret_cast<const char*>(text->data()), text->size()),
        descriptionPath.parent_path());
    if (!description)
    {
        return Fail(fmt::format("{}: {}", descriptionPath.string(), description.error()));
    }
    SBuildOptions options;
    const auto key = ReadKeyFile(a.options.at("key"));
    const auto root = Root(a);
    if (!key || !root)
    {
        return Fail(!key ? key.error() : "--root takes 64 hex digits");
    }
    options.signer = *key;
    options.root = *root;
    if (a.options.contains("cert"))
    {
        const auto cert = ReadBytes(a.options.at("cert"));
        if (!cert || cert->size() != 112)
        {
            return Fail(fmt::format("{} is not a certificate of 112 bytes", a.options.at("cert")));
        }
        options.certificate.emplace();
        std::copy(cert->begin(), cert->end(), options.certificate->begin());
    }
    if (a.options.contains("previous"))
    {
        options.previous = a.options.at("previous");
    }
    const auto built = Build(*description, a.positional[1], options);
    if (!built)
    {
        return Fail(built.error());
    }
    const auto& index = built->read;
    std::printf("identity %s\nrelease %llu\nindex i/%s.quillmereindex (%zu bytes)\nmove runs %zu (%llu bytes)\n",
        index.IdentityHex().c_str(), static_cast<unsigned long long>(index.ReleaseNumber()), index.IdentityHex().c_str(),
        built->index.size(), index.moves.size(), static_cast<unsigned long long>(built->movedBytes));
    return 0;
}

int DeltaCommand(const SArgs& a)
{
    const auto root = Root(a);
    if (a.positional.size() != 2 || !root)
    {
        return Usage();
    }
    const auto fetch = MeasureFetch(a.positional[0], a.positional[1], *root);
    if (!fetch)
    {
        return Fail(fetch.error());
    }
    std::printf("containers kept %llu, new %llu\ncopied %llu\nfetch containers %llu\nfetch files %llu\nfetch index %llu\n"
                "fetch total %llu\n",
        static_cast<unsigned long long>(fetch->keptContainers), static_cast<unsigned long long>(fetch->newContainers),
        static_cast<unsigned long long>(fetch->copiedBytes), static_cast<unsigned long long>(fetch->containerBytes),
        static_cast<unsigned long long>(fetch->fileBytes), static_cast<unsigned long long>(fetch->indexBytes),
        static_cast<unsigned long long>(fetch->Total()));
    return 0;
}

int VerifyCommand(const SArgs& a)
{
    const auto root = Root(a);
    if (a.positional.size() != 1 || !root)
    {
        return Usage();
    }
    const auto bytes = ReadBytes(a.positional[0]);
    if (!bytes)
    {
        return Fail(bytes.error());
    }
    const auto read = Vfs::ReadIndex(*bytes, *root);
    if (!read)
    {
        std::printf("%s\n", read.error().c_str());
        return 1;
    }
    const Vfs::SIndex& index = *read;
    std::printf("identity %s\nrelease %llu\ngeneration %u\ncontainers %zu\npieces %zu\nfiles %zu\nmoves %zu\n",
        index.IdentityHex().c_str(), static_cast<unsigned long long>(index.ReleaseNumber()), index.keyGeneration,
        index.containers.size(), index.pieceHashes.size(), index.files.size(), index.moves.size());
    // Tree files beside the index's folder: each one present must lead to its pieces' hashes.
    std::size_t present = 0;
    for (std::size_t c = 0; c < index.containers.size(); ++c)
    {
        const std::string name = fmt::format("t/{}.quillmeretree", Vfs::ToHex(index.containers[c].identity));
        const fs::path path = fs::path(a.positional[0]).parent_path() / ".." / name;
        if (!fs::exists(path))
        {
            continue;
        }
        const auto tree = ReadBytes(path);
        if (!tree)
        {
            return Fail(tree.error());
        }
        if (const auto wrong = Vfs::CheckTree(index, c, *tree))
        {
            std::printf("%s: %s\n", name.c_str(), wrong->c_str());
            return 1;
        }
        ++present;
    }
    std::printf("trees %zu of %zu\n", present, index.containers.size());
    return 0;
}
}

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        return Usage();
    }
    const auto args = Split(argc, argv, 2);
    if (!args)
    {
        return Usage();
    }
    const std::string command = argv[1];
    try
    {
        if (command == "keys")
            return Keys(*args);
        if (command == "build")
            return BuildCommand(*args);
        if (command == "delta")
            return DeltaCommand(*args);
        if (command == "verify")
            return VerifyCommand(*args);
    }
    catch (const std::exception& e)
    {
        return Fail(e.what());
    }
    return Usage();
}
