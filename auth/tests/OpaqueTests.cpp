#include "auth/Opaque.h"
#include "auth/OpaqueCore.h"
#include "auth/tests/OpaqueVectors.h"

#include <gtest/gtest.h>

#include <sodium.h>

#include <string>
#include <vector>

using namespace Auth::Opaque;

namespace
{
std::vector<std::uint8_t> FromHex(std::string_view hex)
{
    std::vector<std::uint8_t> bytes(hex.size() / 2);
    EXPECT_EQ(sodium_hex2bin(bytes.data(), bytes.size(), hex.data(), hex.size(), nullptr, nullptr, nullptr), 0);
    return bytes;
}

template <typename Bytes>
std::string ToHex(const Bytes& bytes)
{
    std::string hex(bytes.size() * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
    hex.pop_back();
    return hex;
}

Bytes Text(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

template <std::size_t N>
std::span<const std::uint8_t, N> Fixed(const std::vector<std::uint8_t>& bytes)
{
    EXPECT_EQ(bytes.size(), N);
    return std::span<const std::uint8_t, N>(bytes.data(), N);
}

// A random source that hands out a fixed stream, as the test vectors fix the client's draws.
struct SFixedStream
{
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;

    static bool Fill(void* context, std::uint8_t* out, std::size_t length) noexcept
    {
        auto& self = *static_cast<SFixedStream*>(context);
        if (self.bytes.size() - self.at < length)
        {
            return false;
        }
        std::copy_n(self.bytes.begin() + static_cast<std::ptrdiff_t>(self.at), length, out);
        self.at += length;
        return true;
    }
    SRandom Source() { return {&Fill, this}; }
};

// The vectors' client draws: the blinding scalar (as 64 bytes whose reduction is itself),
// the client nonce, the key share seed.
SFixedStream VectorDraws()
{
    SFixedStream stream;
    for (auto part : {Vectors::kReal1BlindLogin, std::string_view("00000000000000000000000000000000"
                                                                   "00000000000000000000000000000000"),
                      Vectors::kReal1ClientNonce, Vectors::kReal1ClientKeyshareSeed})
    {
        const auto bytes = FromHex(part);
        stream.bytes.insert(stream.bytes.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

struct SVectorLogin
{
    std::array<std::uint8_t, 192> state{};
    std::array<std::uint8_t, 96> ke1{};
    std::array<std::uint8_t, 64> ke3{};
    std::array<std::uint8_t, 64> session{};
};

const std::array<std::uint8_t, 10> kPocContext = {'O', 'P', 'A', 'Q', 'U', 'E', '-', 'P', 'O', 'C'};

SSuite VectorSuite()
{
    return SSuite{.context = kPocContext, .ksf = EKsf::Identity};
}

std::int32_t StartVector(SVectorLogin& login)
{
    auto draws = VectorDraws();
    const auto password = FromHex(Vectors::kReal1Password);
    return ClientStart(draws.Source(), password, login.state, login.ke1);
}

std::int32_t FinishVector(SVectorLogin& login, const SSuite& suite, Bytes password, std::string_view ke2Hex)
{
    const auto ke2 = FromHex(ke2Hex);
    return ClientFinish(suite, login.state, password, Fixed<320>(ke2), login.ke3, login.session);
}

// The product's caller context: purpose, release, session.
std::array<std::uint8_t, 65> LauncherContext(std::uint8_t purpose = 4)
{
    std::array<std::uint8_t, 65> context{};
    context[0] = purpose;
    return context;
}
}

TEST(OpaqueVectors, RealVector1SignsIn)
{
    SVectorLogin login;
    ASSERT_EQ(StartVector(login), kOk);
    EXPECT_EQ(ToHex(login.ke1), Vectors::kReal1Ke1);
    ASSERT_EQ(FinishVector(login, VectorSuite(), FromHex(Vectors::kReal1Password), Vectors::kReal1Ke2), kOk);
    EXPECT_EQ(ToHex(login.ke3), Vectors::kReal1Ke3);
    EXPECT_EQ(ToHex(login.session), Vectors::kReal1SessionKey);
}

TEST(OpaqueVectors, RealVector2WithIdentities)
{
    SVectorLogin login;
    ASSERT_EQ(StartVector(login), kOk);
    EXPECT_EQ(ToHex(login.ke1), Vectors::kReal1Ke1); // identities do not enter KE1
    auto suite = VectorSuite();
    suite.clientIdentity = Text("alice");
    suite.serverIdentity = Text("bob");
    ASSERT_EQ(FinishVector(login, suite, FromHex(Vectors::kReal1Password), Vectors::kReal2Ke2), kOk);
    EXPECT_EQ(ToHex(login.ke3), Vectors::kReal2Ke3);
    EXPECT_EQ(ToHex(login.session), Vectors::kReal2SessionKey);

    // Vector 1's answer does not authenticate under vector 2's identities.
    EXPECT_EQ(FinishVector(login, suite, FromHex(Vectors::kReal1Password), Vectors::kReal1Ke2), kInvalidLogin);
}

TEST(OpaqueVectors, WrongPasswordOrContextDoesNotAuthenticate)
{
    SVectorLogin login;
    ASSERT_EQ(StartVector(login), kOk);
    EXPECT_EQ(FinishVector(login, VectorSuite(), Text("CorrectHorseBatteryStaplf"), Vectors::kReal1Ke2), kInvalidLogin);

    // The context enters only the transcript: the envelope opens, the server MAC does not verify.
    const std::array<std::uint8_t, 10> other = {'O', 'P', 'A', 'Q', 'U', 'E', '-', 'P', 'O', 'D'};
    EXPECT_EQ(FinishVector(login, SSuite{.context = other, .ksf = EKsf::Identity},
                           FromHex(Vectors::kReal1Password), Vectors::kReal1Ke2),
              kInvalidLogin);

    // Any flipped bit of the masked response or the server MAC is refused.
    auto ke2 = FromHex(Vectors::kReal1Ke2);
    for (std::size_t at : {64u, 191u, 256u, 319u})
    {
        auto bad = ke2;
        bad[at] ^= 0x01;
        EXPECT_EQ(ClientFinish(VectorSuite(), login.state, FromHex(Vectors::kReal1Password), Fixed<320>(bad), login.ke3,
                               login.session),
                  kInvalidLogin)
            << at;
    }
}

TEST(OpaqueVectors, FakeRecordIsAnInvalidLogin)
{
    // The service's answer for a login it does not know must look like a wrong password.
    SVectorLogin login;
    ASSERT_EQ(StartVector(login), kOk);
    EXPECT_EQ(FinishVector(login, VectorSuite(), FromHex(Vectors::kReal1Password), Vectors::kFake1Ke2), kInvalidLogin);
}

TEST(OpaqueVectors, OprfRistretto255Sha512)
{
    // RFC 9497 A.1.1: key derivation, and both single evaluations.
    std::array<std::uint8_t, 32> secretKey{};
    ASSERT_TRUE(DeriveKeyPair(FromHex("a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3a3"),
                              FromHex("74657374206b6579"), secretKey));
    EXPECT_EQ(ToHex(secretKey), "5ebcea5ee37023ccb9fc2d2019f9d7737be85591ae8652ffa9ef0f4d37063b0e");

    const auto blind = FromHex("64d37aed22a27f5191de1c1d69fadb899d8862b58eb4220029e036ec4c1f6706");
    struct SCase
    {
        std::string_view input, blinded, evaluated, output;
    };
    const SCase cases[] = {
        {"00", "609a0ae68c15a3cf6903766461307e5c8bb2f95e7e6550e1ffa2dc99e412803c",
         "7ec6578ae5120958eb2db1745758ff379e77cb64fe77b0b2d8cc917ea0869c7e",
         "527759c3d9366f277d8c6020418d96bb393ba2afb20ff90df23fb7708264e2f3ab9135e3bd69955851de4b1f9fe8a0973396719b7912ba9e"
         "e8aa7d0b5e24bcf6"},
        {"5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a", "da27ef466870f5f15296299850aa088629945a17d1f5b7f5ff043f76b3c06418",
         "b4cbf5a4f1eeda5a63ce7b77c7d23f461db3fcab0dd28e4e17cecb5c90d02c25",
         "f4a74c9c592497375e796aa837e907b1a045d34306a749db9f34221f7e750cb4f2a6413a6bf6fa5e19ba6348eb673934a722a7ede2e76213"
         "06d18951e7cf2c73"},
    };
    for (const auto& c : cases)
    {
        const auto input = FromHex(c.input);
        std::array<std::uint8_t, 32> blinded{};
        ASSERT_TRUE(OprfBlind(input, Fixed<32>(blind), blinded));
        EXPECT_EQ(ToHex(blinded), c.blinded);
        std::array<std::uint8_t, 64> output{};
        ASSERT_TRUE(OprfFinalize(input, Fixed<32>(blind), Fixed<32>(FromHex(c.evaluated)), output));
        EXPECT_EQ(ToHex(output), c.output);
    }
}

TEST(OpaqueVectors, Ristretto255Group)
{
    // RFC 9496 A.1: the multiples of the generator are canonical; A.2: every bad encoding is refused.
    for (std::size_t i = 0; i < Vectors::kMultiples.size(); ++i)
    {
        const auto element = FromHex(Vectors::kMultiples[i]);
        EXPECT_TRUE(IsCanonicalElement(Fixed<32>(element))) << i;
        if (i > 0)
        {
            std::array<std::uint8_t, 32> scalar{}, computed{};
            scalar[0] = static_cast<std::uint8_t>(i);
            ASSERT_EQ(crypto_scalarmult_ristretto255_base(computed.data(), scalar.data()), 0);
            EXPECT_EQ(ToHex(computed), Vectors::kMultiples[i]);
        }
    }
    for (auto hex : Vectors::kInvalidEncodings)
    {
        EXPECT_FALSE(IsCanonicalElement(Fixed<32>(FromHex(hex)))) << hex;
    }
    // A.3: element derivation from uniform bytes.
    for (const auto& [input, output] : Vectors::kFromUniform)
    {
        std::array<std::uint8_t, 32> element{};
        ASSERT_TRUE(ElementFromUniform(Fixed<64>(FromHex(input)), element));
        EXPECT_EQ(ToHex(element), output);
    }
}

TEST(OpaqueVectors, Argon2idFourLanes)
{
    // RFC 9106 5.3, with the secret and associated data.
    const std::vector<std::uint8_t> password(32, 0x01), salt(16, 0x02), secret(8, 0x03), data(12, 0x04);
    std::array<std::uint8_t, 32> tag{};
    ASSERT_TRUE(Argon2id(password, SArgon2Params{.passes = 3, .memoryKiB = 32, .lanes = 4, .salt = salt,
                                                 .secret = secret, .associatedData = data},
                         tag));
    EXPECT_EQ(ToHex(tag), "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659");

    // The sign-in's own parameters (64 MiB, 3 passes, 4 lanes, zero salt) on a 64-byte input, as
    // two independent implementations compute it.
    std::vector<std::uint8_t> input(64);
    for (std::size_t i = 0; i < input.size(); ++i)
    {
        input[i] = static_cast<std::uint8_t>(i);
    }
    const std::array<std::uint8_t, 16> zeroSalt{};
    std::array<std::uint8_t, 64> out{};
    ASSERT_TRUE(Argon2id(input, SArgon2Params{.salt = zeroSalt}, out));
    EXPECT_EQ(ToHex(out), "763c05e205e6d06f9d49921578c5fc314590d8016bd8ccc98049f3da265fad5d4a27e85aaac6ac1de7cf2aeda7b8c7"
                          "67de0ff4e5db3ff8421d9bb3e8effb279b");
}

TEST(OpaqueBoundary, StartChecksArgumentsThenPassword)
{
    std::array<std::uint8_t, 192> state{};
    std::array<std::uint8_t, 96> ke1{};
    std::size_t length = 0;
    const std::uint8_t pw[] = {'p', 'w'};
    EXPECT_EQ(opaque_client_start(nullptr, 0, state.data(), 192, &length, ke1.data()), 2); // empty, not bad arguments
    EXPECT_EQ(opaque_client_start(nullptr, 2, state.data(), 192, &length, ke1.data()), 1);
    EXPECT_EQ(opaque_client_start(pw, 2, state.data(), 191, &length, ke1.data()), 1);
    EXPECT_EQ(opaque_client_start(pw, 2, nullptr, 192, &length, ke1.data()), 1);
    EXPECT_EQ(opaque_client_start(pw, 2, state.data(), 192, nullptr, ke1.data()), 1);
    EXPECT_EQ(opaque_client_start(pw, 2, state.data(), 192, &length, nullptr), 1);
    const std::uint8_t high[] = {'p', 0x80};
    EXPECT_EQ(opaque_client_start(high, 2, state.data(), 192, &length, ke1.data()), 2);
    EXPECT_EQ(length, 0u);

    std::array<std::uint8_t, 200> roomy{};
    ASSERT_EQ(opaque_client_start(pw, 2, roomy.data(), roomy.size(), &length, ke1.data()), 0);
    EXPECT_EQ(length, 192u);
    std::array<std::uint8_t, 96> second{};
    ASSERT_EQ(opaque_client_start(pw, 2, state.data(), 192, &length, second.data()), 0);
    EXPECT_NE(ke1, second); // fresh blinding, nonce and key share each time
}

TEST(OpaqueBoundary, FinishChecksInTheStatedOrder)
{
    std::array<std::uint8_t, 193> state{};
    std::array<std::uint8_t, 96> ke1{};
    std::size_t length = 0;
    const std::uint8_t pw[] = {'p', 'w'};
    ASSERT_EQ(opaque_client_start(pw, 2, state.data(), 192, &length, ke1.data()), 0);
    std::array<std::uint8_t, 320> ke2{};
    auto context = LauncherContext();
    std::array<std::uint8_t, 64> ke3{}, key{};
    const auto finish = [&](std::size_t stateLength, const std::uint8_t* password, std::size_t passwordLength,
                            std::size_t contextLength, std::int32_t suite) {
        return opaque_client_finish(state.data(), stateLength, password, passwordLength, ke2.data(), context.data(),
                                    contextLength, suite, ke3.data(), key.data());
    };
    EXPECT_EQ(finish(193, pw, 2, 65, 1), 1);
    EXPECT_EQ(finish(191, pw, 2, 65, 1), 1);
    EXPECT_EQ(finish(192, pw, 2, 64, 1), 1);
    EXPECT_EQ(finish(192, nullptr, 2, 65, 1), 1);
    EXPECT_EQ(opaque_client_finish(state.data(), 192, pw, 2, ke2.data(), context.data(), 65, 1, nullptr, key.data()), 1);
    EXPECT_EQ(opaque_client_finish(state.data(), 192, pw, 2, nullptr, context.data(), 65, 1, ke3.data(), key.data()), 1);
    EXPECT_EQ(finish(192, nullptr, 0, 65, 2), 2); // the password before the suite
    EXPECT_EQ(finish(192, pw, 2, 65, 2), 3);      // the suite before the state and KE2 (all zero here)
    context[0] = 0;
    EXPECT_EQ(finish(192, pw, 2, 65, 1), 4);
    context[0] = 5;
    EXPECT_EQ(finish(192, pw, 2, 65, 1), 4);
    context[0] = 4;
    EXPECT_EQ(finish(192, pw, 2, 65, 1), 5); // KE2's evaluated element of zeroes is the identity
    EXPECT_EQ(ke3, (std::array<std::uint8_t, 64>{}));
    EXPECT_EQ(key, (std::array<std::uint8_t, 64>{}));
}

TEST(OpaqueBoundary, MalformedStateAndKe2)
{
    // The vector's state and answer, altered one field at a time; the identity KSF keeps it quick.
    SVectorLogin login;
    ASSERT_EQ(StartVector(login), kOk);
    const auto password = FromHex(Vectors::kReal1Password);
    const auto good = FromHex(Vectors::kReal1Ke2);
    const auto finishWith = [&](const std::array<std::uint8_t, 192>& state, std::vector<std::uint8_t> ke2) {
        return ClientFinish(VectorSuite(), state, password, Fixed<320>(ke2), login.ke3, login.session);
    };
    const auto withElement = [&](std::size_t at, std::string_view hex) {
        auto ke2 = good;
        const auto element = FromHex(hex);
        std::copy(element.begin(), element.end(), ke2.begin() + static_cast<std::ptrdiff_t>(at));
        return ke2;
    };
    ASSERT_EQ(finishWith(login.state, good), kOk);

    // Evaluated element: not canonical, the identity, equal to the blinded element.
    EXPECT_EQ(finishWith(login.state, withElement(0, Vectors::kInvalidEncodings[1])), kMalformed);
    EXPECT_EQ(finishWith(login.state, withElement(0, Vectors::kMultiples[0])), kInvalidLogin);
    EXPECT_EQ(finishWith(login.state, withElement(0, Vectors::kReal1Ke1.substr(0, 64))), kMalformed);
    // Server key share: not canonical, the identity.
    EXPECT_EQ(finishWith(login.state, withElement(224, Vectors::kInvalidEncodings[5])), kMalformed);
    EXPECT_EQ(finishWith(login.state, withElement(224, Vectors::kMultiples[0])), kInvalidLogin);

    // The state: magic, scalars above the group order, the key share that must match the
    // secret, the padding.
    for (std::size_t at : {0u, 47u, 79u, 150u, 191u})
    {
        auto state = login.state;
        state[at] ^= 0x40;
        EXPECT_EQ(finishWith(state, good), kMalformed) << at;
    }
    auto zeroBlind = login.state;
    std::fill(zeroBlind.begin() + 16, zeroBlind.begin() + 48, std::uint8_t{0});
    EXPECT_EQ(finishWith(zeroBlind, good), kMalformed);
    auto bigSecret = login.state;
    std::fill(bigSecret.begin() + 48, bigSecret.begin() + 80, std::uint8_t{0xff});
    EXPECT_EQ(finishWith(bigSecret, good), kMalformed);
}

TEST(OpaqueWrappers, StartAndFinishWipeTheState)
{
    auto refused = Auth::LoginStart("");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.failure, Auth::ELoginFailure::PasswordRefused);
    EXPECT_EQ(Auth::LoginStart("caf\xc3\xa9").failure, Auth::ELoginFailure::PasswordRefused);

    auto start = Auth::LoginStart("hunter22");
    ASSERT_TRUE(start.ok);
    EXPECT_EQ(start.stateLength, 192u);

    auto moved = std::move(start);
    EXPECT_EQ(start.state, (std::array<std::uint8_t, 192>{}));
    EXPECT_EQ(moved.stateLength, 192u);

    const std::array<std::uint8_t, 320> ke2{};
    const auto context = LauncherContext();
    const auto finish = Auth::LoginFinish(moved, "hunter22", ke2, context, 2);
    EXPECT_FALSE(finish.ok);
    EXPECT_EQ(finish.failure, Auth::ELoginFailure::SuiteNotSupported);
    EXPECT_EQ(moved.state, (std::array<std::uint8_t, 192>{}));

    // A state already taken is refused as bad arguments, not used again.
    EXPECT_EQ(Auth::LoginFinish(moved, "hunter22", ke2, context, 1).failure, Auth::ELoginFailure::BadArguments);
}
