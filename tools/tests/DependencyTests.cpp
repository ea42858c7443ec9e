// Proves each third-party library of this configuration with a published vector, so a
// broken cross-build of a dependency shows up here and not deep inside a feature.
#include <blake3.h>
#include <cryptopp/sha.h>
#include <cryptopp/xed25519.h>
#include <gcrypt.h>
#include <sodium.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace
{
std::vector<std::uint8_t> FromHex(std::string_view hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

template <typename Bytes>
std::string ToHex(const Bytes& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t b : bytes)
    {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 15]);
    }
    return hex;
}
}

TEST(Dependencies, CryptoppEd25519Rfc8032Test1)
{
    const auto secret = FromHex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
    const auto publicKey = FromHex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    const auto signature = FromHex("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bac"
                                   "c61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b");

    CryptoPP::ed25519Verifier verifier(publicKey.data());
    EXPECT_TRUE(verifier.VerifyMessage(nullptr, 0, signature.data(), signature.size()));
    auto forged = signature;
    forged[0] ^= 1;
    EXPECT_FALSE(verifier.VerifyMessage(nullptr, 0, forged.data(), forged.size()));

    CryptoPP::ed25519Signer signer(secret.data());
    std::array<std::uint8_t, 64> made{};
    signer.SignMessage(CryptoPP::NullRNG(), nullptr, 0, made.data()); // Ed25519 is deterministic
    EXPECT_EQ(ToHex(made), ToHex(signature));
}

TEST(Dependencies, CryptoppSha256Abc)
{
    std::array<std::uint8_t, 32> digest{};
    CryptoPP::SHA256().CalculateDigest(digest.data(), reinterpret_cast<const CryptoPP::byte*>("abc"), 3);
    EXPECT_EQ(ToHex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Dependencies, Blake3OfNothing)
{
    blake3_hasher hasher;
    blake3_hasher_init(&hasher);
    std::array<std::uint8_t, 32> digest{};
    blake3_hasher_finalize(&hasher, digest.data(), digest.size());
    EXPECT_EQ(ToHex(digest), "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
}

TEST(Dependencies, SodiumRistretto255Generator)
{
    ASSERT_GE(sodium_init(), 0);
    std::array<std::uint8_t, crypto_core_ristretto255_SCALARBYTES> one{1};
    std::array<std::uint8_t, crypto_core_ristretto255_BYTES> point{};
    ASSERT_EQ(crypto_scalarmult_ristretto255_base(point.data(), one.data()), 0);
    EXPECT_EQ(ToHex(point), "e2f2ae0a6abc4e71a884a961c500515f58e30b6aa582dd8db6a65945e08d2d76");
}

TEST(Dependencies, GcryptArgon2idRfc9106FourLanes)
{
    ASSERT_NE(gcry_check_version(nullptr), nullptr);
    const std::vector<std::uint8_t> password(32, 0x01), salt(16, 0x02), secret(8, 0x03), data(12, 0x04);
    const unsigned long params[4] = {32, 3, 32, 4}; // tag length, passes, KiB of memory, lanes
    gcry_kdf_hd_t kdf = nullptr;
    ASSERT_EQ(gcry_kdf_open(&kdf, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, params, 4, password.data(), password.size(),
                            salt.data(), salt.size(), secret.data(), secret.size(), data.data(), data.size()),
              0u);
    std::array<std::uint8_t, 32> tag{};
    EXPECT_EQ(gcry_kdf_compute(kdf, nullptr), 0u);
    EXPECT_EQ(gcry_kdf_final(kdf, tag.size(), tag.data()), 0u);
    gcry_kdf_close(kdf);
    EXPECT_EQ(ToHex(tag), "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659");
}
