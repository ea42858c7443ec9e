#include "auth/Opaque.h"

#include "base/Secure.h"
#include "auth/OpaqueCore.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace Auth::Opaque
{
namespace
{
constexpr std::size_t kScalar = 32;
constexpr std::size_t kElement = 32;
constexpr std::size_t kHash = 64;
constexpr std::size_t kNonce = 32;

// RFC 9497's contextString for ristretto255-SHA512 in OPRF mode: "OPRFV1-" 0x00 "-ristretto255-SHA512".
constexpr std::string_view kOprfContext{"OPRFV1-\0-ristretto255-SHA512", 28};
constexpr std::string_view kDhKeyInfo = "OPAQUE-DeriveDiffieHellmanKeyPair";

// The client state: magic, blinding scalar, ephemeral secret key, KE1, zero padding.
constexpr std::string_view kStateMagic{"qm-opaque-state\0", 16};
constexpr std::size_t kStateBlind = 16;
constexpr std::size_t kStateSecret = kStateBlind + kScalar;
constexpr std::size_t kStateKe1 = kStateSecret + kScalar;
constexpr std::size_t kStatePadding = kStateKe1 + 96;
static_assert(kStatePadding + 16 == 192);

// A fixed-size secret that is wiped on every path out of its scope.
template <std::size_t N>
struct SSecret
{
    std::array<std::uint8_t, N> bytes{};

    SSecret() noexcept = default;
    SSecret(const SSecret&) = delete;
    SSecret& operator=(const SSecret&) = delete;
    ~SSecret() { Secure::Wipe(bytes); }

    [[nodiscard]] std::uint8_t* data() noexcept { return bytes.data(); }
    [[nodiscard]] const std::uint8_t* data() const noexcept { return bytes.data(); }
    [[nodiscard]] static constexpr std::size_t size() noexcept { return N; }
    [[nodiscard]] std::span<std::uint8_t, N> span() noexcept { return bytes; }
    [[nodiscard]] std::span<const std::uint8_t, N> span() const noexcept { return bytes; }
};

// Streams into SHA-512 or HMAC-SHA-512; the state is wiped on destruction.
class CSha512
{
public:
    CSha512() noexcept { crypto_hash_sha512_init(&m_state); }
    CSha512(const CSha512&) noexcept = default;
    CSha512& operator=(const CSha512&) = delete;
    ~CSha512() { Secure::Wipe(&m_state, sizeof m_state); }

    CSha512& Add(Bytes bytes) noexcept
    {
        crypto_hash_sha512_update(&m_state, bytes.data(), bytes.size());
        return *this;
    }
    CSha512& Add(std::string_view text) noexcept { return Add(AsBytes(text)); }
    CSha512& AddLength(std::size_t length, std::size_t width) noexcept
    {
        std::uint8_t be[2] = {static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
        return Add(Bytes(be + (2 - width), width));
    }
    void Final(std::span<std::uint8_t, kHash> out) noexcept { crypto_hash_sha512_final(&m_state, out.data()); }

    static Bytes AsBytes(std::string_view text) noexcept
    {
        return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
    }

private:
    crypto_hash_sha512_state m_state;
};

class CHmac
{
public:
    explicit CHmac(Bytes key) noexcept
    {
        static const std::uint8_t none = 0; // an empty key is all zero bytes to HMAC
        crypto_auth_hmacsha512_init(&m_state, key.empty() ? &none : key.data(), key.size());
    }
    CHmac(const CHmac&) = delete;
    CHmac& operator=(const CHmac&) = delete;
    ~CHmac() { Secure::Wipe(&m_state, sizeof m_state); }

    CHmac& Add(Bytes bytes) noexcept
    {
        crypto_auth_hmacsha512_update(&m_state, bytes.data(), bytes.size());
        return *this;
    }
    CHmac& Add(std::string_view text) noexcept { return Add(CSha512::AsBytes(text)); }
    void Final(std::span<std::uint8_t, kHash> out) noexcept { crypto_auth_hmacsha512_final(&m_state, out.data()); }

private:
    crypto_auth_hmacsha512_state m_state;
};

[[nodiscard]] bool SodiumReady() noexcept
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

[[nodiscard]] bool IsZero(Bytes bytes) noexcept
{
    return sodium_is_zero(bytes.data(), bytes.size()) == 1;
}

[[nodiscard]] bool Equal(Bytes a, Bytes b) noexcept
{
    return a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

// A scalar below the group order: reducing it changes nothing.
[[nodiscard]] bool IsCanonicalScalar(std::span<const std::uint8_t, kScalar> scalar) noexcept
{
    SSecret<64> wide;
    std::copy(scalar.begin(), scalar.end(), wide.bytes.begin());
    SSecret<kScalar> reduced;
    crypto_core_ristretto255_scalar_reduce(reduced.data(), wide.data());
    return Equal(reduced.bytes, scalar);
}

[[nodiscard]] bool IsIdentity(std::span<const std::uint8_t, kElement> element) noexcept
{
    return IsZero(element); // the identity's only canonical encoding
}

// RFC 9497's HashToScalar with an explicit DST: 64 uniform bytes reduced modulo the order.
[[nodiscard]] bool HashToScalar(Bytes input, Bytes dst, std::span<std::uint8_t, kScalar> scalar) noexcept
{
    SSecret<64> uniform;
    if (!ExpandMessageXmd(input, dst, uniform.bytes))
    {
        return false;
    }
    crypto_core_ristretto255_scalar_reduce(scalar.data(), uniform.data());
    return true;
}

// OPAQUE's Expand-Label: info = length(2) || len("OPAQUE-" label)(1) || "OPAQUE-" label || len(context)(1) || context.
[[nodiscard]] bool ExpandLabel(std::span<const std::uint8_t, kHash> secret, std::string_view label, Bytes context,
                               std::span<std::uint8_t> out) noexcept
{
    std::array<std::uint8_t, 2 + 1 + 32 + 1 + kHash> info{};
    const std::string_view prefix = "OPAQUE-";
    if (prefix.size() + label.size() > 32 || context.size() > kHash)
    {
        return false;
    }
    std::size_t at = 0;
    info[at++] = static_cast<std::uint8_t>(out.size() >> 8);
    info[at++] = static_cast<std::uint8_t>(out.size());
    info[at++] = static_cast<std::uint8_t>(prefix.size() + label.size());
    at = std::copy(prefix.begin(), prefix.end(), info.begin() + at) - info.begin();
    at = std::copy(label.begin(), label.end(), info.begin() + at) - info.begin();
    info[at++] = static_cast<std::uint8_t>(context.size());
    at = std::copy(context.begin(), context.end(), info.begin() + at) - info.begin();
    return HkdfExpand(secret, Bytes(info.data(), at), out);
}

// HKDF-Expand with an info made of two parts (a nonce and a label), as OPAQUE's key derivations are.
[[nodiscard]] bool ExpandWith(std::span<const std::uint8_t, kHash> prk, Bytes nonce, std::string_view label,
                              std::span<std::uint8_t> out) noexcept
{
    std::array<std::uint8_t, kNonce + 32> info{};
    if (nonce.size() > kNonce || label.size() > 32)
    {
        return false;
    }
    auto end = std::copy(nonce.begin(), nonce.end(), info.begin());
    end = std::copy(label.begin(), label.end(), end);
    return HkdfExpand(prk, Bytes(info.data(), static_cast<std::size_t>(end - info.begin())), out);
}

[[nodiscard]] bool DhKeyPair(Bytes seed, std::span<std::uint8_t, kScalar> secretKey,
                             std::span<std::uint8_t, kElement> publicKey) noexcept
{
    return DeriveKeyPair(seed, CSha512::AsBytes(kDhKeyInfo), secretKey) &&
           crypto_scalarmult_ristretto255_base(publicKey.data(), secretKey.data()) == 0;
}

// What the finish step reads from the client state.
struct SClientState
{
    SSecret<kScalar> blind;
    SSecret<kScalar> secret;
    std::array<std::uint8_t, 96> ke1{};
};

[[nodiscard]] std::int32_t ReadState(std::span<const std::uint8_t, 192> state, SClientState& out) noexcept
{
    if (!Equal(state.first(kStateMagic.size()), CSha512::AsBytes(kStateMagic)) ||
        !IsZero(state.subspan(kStatePadding)))
    {
        return kMalformed;
    }
    std::copy_n(state.begin() + kStateBlind, kScalar, out.blind.bytes.begin());
    std::copy_n(state.begin() + kStateSecret, kScalar, out.secret.bytes.begin());
    std::copy_n(state.begin() + kStateKe1, out.ke1.size(), out.ke1.begin());

    for (const auto* scalar : {&out.blind, &out.secret})
    {
        if (IsZero(scalar->bytes) || !IsCanonicalScalar(scalar->bytes))
        {
            return kMalformed;
        }
    }
    const auto blinded = std::span<const std::uint8_t, kElement>(out.ke1.data(), kElement);
    const auto share = std::span<const std::uint8_t, kElement>(out.ke1.data() + 64, kElement);
    if (!IsCanonicalElement(blinded) || IsIdentity(blinded))
    {
        return kMalformed;
    }
    std::array<std::uint8_t, kElement> expected{};
    if (crypto_scalarmult_ristretto255_base(expected.data(), out.secret.data()) != 0 || !Equal(expected, share))
    {
        return kMalformed;
    }
    return kOk;
}

// A public element received from the server: a bad encoding is malformed, the identity an
// invalid login.
[[nodiscard]] std::int32_t CheckReceived(std::span<const std::uint8_t, kElement> element) noexcept
{
    if (!IsCanonicalElement(element))
    {
        return kMalformed;
    }
    return IsIdentity(element) ? kInvalidLogin : kOk;
}

void PutIdentity(CSha512& hash, Bytes identity) noexcept
{
    hash.AddLength(identity.size(), 2).Add(identity);
}
}

bool IsCanonicalElement(std::span<const std::uint8_t, 32> element) noexcept
{
    return SodiumReady() && crypto_core_ristretto255_is_valid_point(element.data()) == 1;
}

bool ExpandMessageXmd(Bytes message, Bytes dst, std::span<std::uint8_t> out) noexcept
{
    const std::size_t blocks = (out.size() + kHash - 1) / kHash;
    if (out.empty() || blocks > 255 || dst.empty() || dst.size() > 255)
    {
        return false;
    }
    const std::uint8_t dstLength = static_cast<std::uint8_t>(dst.size());
    const std::array<std::uint8_t, 128> zeroPad{};

    SSecret<kHash> b0;
    CSha512()
        .Add(zeroPad)
        .Add(message)
        .AddLength(out.size(), 2)
        .Add(Bytes(&zeroPad[0], 1))
        .Add(dst)
        .Add(Bytes(&dstLength, 1))
        .Final(b0.span());

    SSecret<kHash> previous;
    SSecret<kHash> mixed;
    for (std::size_t i = 1; i <= blocks; ++i)
    {
        for (std::size_t k = 0; k < kHash; ++k)
        {
            mixed.bytes[k] = static_cast<std::uint8_t>(b0.bytes[k] ^ (i == 1 ? 0 : previous.bytes[k]));
        }
        const std::uint8_t index = static_cast<std::uint8_t>(i);
        CSha512().Add(mixed.bytes).Add(Bytes(&index, 1)).Add(dst).Add(Bytes(&dstLength, 1)).Final(previous.span());
        const std::size_t at = (i - 1) * kHash;
        const std::size_t take = std::min(kHash, out.size() - at);
        std::copy_n(previous.bytes.begin(), take, out.begin() + at);
    }
    return true;
}

bool HashToGroup(Bytes input, std::span<std::uint8_t, 32> element) noexcept
{
    if (!SodiumReady())
    {
        return false;
    }
    std::array<std::uint8_t, 12 + kOprfContext.size()> dst{};
    const std::string_view prefix = "HashToGroup-";
    std::copy(kOprfContext.begin(), kOprfContext.end(), std::copy(prefix.begin(), prefix.end(), dst.begin()));
    SSecret<64> uniform;
    if (!ExpandMessageXmd(input, dst, uniform.bytes))
    {
        return false;
    }
    return ElementFromUniform(uniform.span(), element);
}

bool ElementFromUniform(std::span<const std::uint8_t, 64> uniform, std::span<std::uint8_t, 32> element) noexcept
{
    return SodiumReady() && crypto_core_ristretto255_from_hash(element.data(), uniform.data()) == 0;
}

bool OprfBlind(Bytes input, std::span<const std::uint8_t, 32> blind, std::span<std::uint8_t, 32> blindedElement) noexcept
{
    SSecret<kElement> element;
    if (!HashToGroup(input, element.span()) || IsIdentity(element.span()))
    {
        return false;
    }
    return crypto_scalarmult_ristretto255(blindedElement.data(), blind.data(), element.data()) == 0;
}

bool OprfFinalize(Bytes input, std::span<const std::uint8_t, 32> blind, std::span<const std::uint8_t, 32> evaluatedElement,
                  std::span<std::uint8_t, 64> output) noexcept
{
    if (!SodiumReady() || input.size() > 0xFFFF)
    {
        return false;
    }
    SSecret<kScalar> inverse;
    SSecret<kElement> unblinded;
    if (crypto_core_ristretto255_scalar_invert(inverse.data(), blind.data()) != 0 ||
        crypto_scalarmult_ristretto255(unblinded.data(), inverse.data(), evaluatedElement.data()) != 0)
    {
        return false;
    }
    CSha512().AddLength(input.size(), 2).Add(input).AddLength(kElement, 2).Add(unblinded.bytes).Add("Finalize").Final(output);
    return true;
}

bool DeriveKeyPair(Bytes seed, Bytes info, std::span<std::uint8_t, 32> secretKey) noexcept
{
    if (!SodiumReady() || seed.size() > 64 || info.size() > 64)
    {
        return false;
    }
    // deriveInput = seed || I2OSP(len(info), 2) || info, then one counter byte.
    SSecret<64 + 2 + 64 + 1> input;
    std::size_t at = std::copy(seed.begin(), seed.end(), input.bytes.begin()) - input.bytes.begin();
    input.bytes[at++] = static_cast<std::uint8_t>(info.size() >> 8);
    input.bytes[at++] = static_cast<std::uint8_t>(info.size());
    at = std::copy(info.begin(), info.end(), input.bytes.begin() + at) - input.bytes.begin();

    std::array<std::uint8_t, 13 + kOprfContext.size()> dst{};
    const std::string_view prefix = "DeriveKeyPair";
    std::copy(kOprfContext.begin(), kOprfContext.end(), std::copy(prefix.begin(), prefix.end(), dst.begin()));

    for (unsigned counter = 0; counter <= 255; ++counter)
    {
        input.bytes[at] = static_cast<std::uint8_t>(counter);
        if (!HashToScalar(Bytes(input.data(), at + 1), dst, secretKey))
        {
            return false;
        }
        if (!IsZero(secretKey))
        {
            return true;
        }
    }
    return false;
}

void HkdfExtract(Bytes salt, Bytes ikm, std::span<std::uint8_t, 64> prk) noexcept
{
    CHmac(salt).Add(ikm).Final(prk);
}

bool HkdfExpand(std::span<const std::uint8_t, 64> prk, Bytes info, std::span<std::uint8_t> out) noexcept
{
    const std::size_t blocks = (out.size() + kHash - 1) / kHash;
    if (blocks > 255)
    {
        return false;
    }
    SSecret<kHash> block;
    for (std::size_t i = 1; i <= blocks; ++i)
    {
        const std::uint8_t index = static_cast<std::uint8_t>(i);
        CHmac hmac(prk);
        if (i > 1)
        {
            hmac.Add(block.bytes);
        }
        hmac.Add(info).Add(Bytes(&index, 1)).Final(block.span());
        const std::size_t at = (i - 1) * kHash;
        std::copy_n(block.bytes.begin(), std::min(kHash, out.size() - at), out.begin() + at);
    }
    return true;
}

std::int32_t ClientStart(const SRandom& random, Bytes password, std::span<std::uint8_t, 192> state,
                         std::span<std::uint8_t, 96> ke1) noexcept
{
    if (!SodiumReady() || random.fill == nullptr)
    {
        return kInternal;
    }
    // Blinding scalar: 64 random bytes reduced modulo the order, drawn again while zero.
    SSecret<kScalar> blind;
    {
        SSecret<64> wide;
        do
        {
            if (!random.fill(random.context, wide.data(), wide.size()))
            {
                return kInternal;
            }
            crypto_core_ristretto255_scalar_reduce(blind.data(), wide.data());
        } while (IsZero(blind.bytes));
    }
    std::array<std::uint8_t, 96> message{};
    const auto blinded = std::span<std::uint8_t, kElement>(message.data(), kElement);
    const auto nonce = std::span<std::uint8_t, kNonce>(message.data() + 32, kNonce);
    const auto share = std::span<std::uint8_t, kElement>(message.data() + 64, kElement);
    if (!OprfBlind(password, blind.span(), blinded))
    {
        return kMalformed; // the password hashed to the identity: an OPRF-level failure
    }

    SSecret<kNonce> seed;
    SSecret<kScalar> secret;
    if (!random.fill(random.context, nonce.data(), nonce.size()) || !random.fill(random.context, seed.data(), seed.size()))
    {
        return kInternal;
    }
    if (!DhKeyPair(seed.bytes, secret.span(), share))
    {
        return kInternal;
    }

    std::copy(kStateMagic.begin(), kStateMagic.end(), state.begin());
    std::copy(blind.bytes.begin(), blind.bytes.end(), state.begin() + kStateBlind);
    std::copy(secret.bytes.begin(), secret.bytes.end(), state.begin() + kStateSecret);
    std::copy(message.begin(), message.end(), state.begin() + kStateKe1);
    std::fill(state.begin() + kStatePadding, state.end(), std::uint8_t{0});
    std::copy(message.begin(), message.end(), ke1.begin());
    return kOk;
}

std::int32_t ClientFinish(const SSuite& suite, std::span<const std::uint8_t, 192> state, Bytes password,
                          std::span<const std::uint8_t, 320> ke2, std::span<std::uint8_t, 64> ke3,
                          std::span<std::uint8_t, 64> sessionKey) noexcept
{
    if (!SodiumReady())
    {
        return kInternal;
    }
    SClientState client;
    if (const auto code = ReadState(state, client); code != kOk)
    {
        return code;
    }

    // KE2: evaluated element first, then the rest.
    const auto evaluated = ke2.subspan<0, kElement>();
    const auto credentialResponse = ke2.subspan<0, 192>();
    const auto maskingNonce = ke2.subspan<32, kNonce>();
    const auto maskedResponse = ke2.subspan<64, 128>();
    const auto serverNonce = ke2.subspan<192, kNonce>();
    const auto serverShare = ke2.subspan<224, kElement>();
    const auto serverMac = ke2.subspan<256, kHash>();
    if (const auto code = CheckReceived(evaluated); code != kOk)
    {
        return code;
    }
    if (Equal(evaluated, Bytes(client.ke1.data(), kElement)))
    {
        return kMalformed;
    }
    if (const auto code = CheckReceived(serverShare); code != kOk)
    {
        return code;
    }

    // The OPRF output, hardened, gives the randomised password.
    SSecret<2 * kHash> stretched; // y || Harden(y)
    const auto oprfOutput = std::span<std::uint8_t, kHash>(stretched.data(), kHash);
    const auto hardened = std::span<std::uint8_t, kHash>(stretched.data() + kHash, kHash);
    if (!OprfFinalize(password, client.blind.span(), evaluated, oprfOutput))
    {
        return kMalformed;
    }
    if (suite.ksf == EKsf::Identity)
    {
        std::copy(oprfOutput.begin(), oprfOutput.end(), hardened.begin());
    }
    else
    {
        const std::array<std::uint8_t, 16> salt{};
        if (!Argon2id(oprfOutput, SArgon2Params{.salt = salt}, hardened))
        {
            return kInternal;
        }
    }
    SSecret<kHash> randomizedPassword;
    HkdfExtract({}, stretched.bytes, randomizedPassword.span());

    // Unmask the server's public key and the envelope.
    SSecret<kHash> maskingKey;
    SSecret<128> response; // server public key (32) || envelope nonce (32) || auth tag (64)
    if (!ExpandWith(randomizedPassword.span(), {}, "MaskingKey", maskingKey.bytes) ||
        !ExpandWith(maskingKey.span(), maskingNonce, "CredentialResponsePad", response.bytes))
    {
        return kInternal;
    }
    for (std::size_t i = 0; i < response.size(); ++i)
    {
        response.bytes[i] ^= maskedResponse[i];
    }
    const auto serverKey = std::span<const std::uint8_t, kElement>(response.data(), kElement);
    const auto envelopeNonce = Bytes(response.data() + 32, kNonce);
    const auto authTag = Bytes(response.data() + 64, kHash);

    // Open the envelope: the client's key pair and the cleartext credentials.
    SSecret<kHash> authKey;
    SSecret<kNonce> seed;
    SSecret<kScalar> clientSecret;
    std::array<std::uint8_t, kElement> clientPublic{};
    if (!ExpandWith(randomizedPassword.span(), envelopeNonce, "AuthKey", authKey.bytes) ||
        !ExpandWith(randomizedPassword.span(), envelopeNonce, "PrivateKey", seed.bytes) ||
        !DhKeyPair(seed.bytes, clientSecret.span(), clientPublic))
    {
        return kInternal;
    }
    const Bytes serverIdentity = suite.serverIdentity.value_or(Bytes(serverKey));
    const Bytes clientIdentity = suite.clientIdentity.value_or(Bytes(clientPublic));
    if (serverIdentity.size() > 0xFFFF || clientIdentity.size() > 0xFFFF || suite.context.size() > 0xFFFF)
    {
        return kInternal;
    }
    {
        SSecret<kHash> expectedTag;
        CHmac mac(authKey.bytes);
        mac.Add(envelopeNonce).Add(serverKey);
        std::array<std::uint8_t, 2> length{};
        length = {static_cast<std::uint8_t>(serverIdentity.size() >> 8), static_cast<std::uint8_t>(serverIdentity.size())};
        mac.Add(length).Add(serverIdentity);
        length = {static_cast<std::uint8_t>(clientIdentity.size() >> 8), static_cast<std::uint8_t>(clientIdentity.size())};
        mac.Add(length).Add(clientIdentity);
        mac.Final(expectedTag.span());
        if (!Equal(expectedTag.bytes, authTag))
        {
            return kInvalidLogin;
        }
    }
    if (const auto code = CheckReceived(serverKey); code != kOk)
    {
        return code;
    }

    // Three Diffie-Hellman shares.
    SSecret<3 * kElement> dh;
    if (crypto_scalarmult_ristretto255(dh.data(), client.secret.data(), serverShare.data()) != 0 ||
        crypto_scalarmult_ristretto255(dh.data() + 32, client.secret.data(), serverKey.data()) != 0 ||
        crypto_scalarmult_ristretto255(dh.data() + 64, clientSecret.data(), serverShare.data()) != 0)
    {
        return kInvalidLogin;
    }

    // The transcript's preamble, hashed as it is written.
    CSha512 preamble;
    preamble.Add("OPAQUEv1-");
    PutIdentity(preamble, suite.context);
    PutIdentity(preamble, clientIdentity);
    preamble.Add(client.ke1);
    PutIdentity(preamble, serverIdentity);
    preamble.Add(credentialResponse).Add(serverNonce).Add(serverShare);
    CSha512 withServerMac = preamble;
    std::array<std::uint8_t, kHash> preambleHash{};
    preamble.Final(preambleHash);

    SSecret<kHash> prk;
    SSecret<kHash> handshakeSecret;
    SSecret<kHash> serverMacKey;
    SSecret<kHash> clientMacKey;
    SSecret<kHash> session;
    HkdfExtract({}, dh.bytes, prk.span());
    if (!ExpandLabel(prk.span(), "HandshakeSecret", preambleHash, handshakeSecret.bytes) ||
        !ExpandLabel(prk.span(), "SessionKey", preambleHash, session.bytes) ||
        !ExpandLabel(handshakeSecret.span(), "ServerMAC", {}, serverMacKey.bytes) ||
        !ExpandLabel(handshakeSecret.span(), "ClientMAC", {}, clientMacKey.bytes))
    {
        return kInternal;
    }

    std::array<std::uint8_t, kHash> expectedServerMac{};
    CHmac(serverMacKey.bytes).Add(preambleHash).Final(expectedServerMac);
    if (!Equal(expectedServerMac, serverMac))
    {
        return kInvalidLogin;
    }
    std::array<std::uint8_t, kHash> transcriptHash{};
    withServerMac.Add(expectedServerMac).Final(transcriptHash);
    CHmac(clientMacKey.bytes).Add(transcriptHash).Final(ke3);
    std::copy(session.bytes.begin(), session.bytes.end(), sessionKey.begin());
    return kOk;
}
}

namespace
{
using namespace Auth::Opaque;

[[nodiscard]] bool PasswordAccepted(const std::uint8_t* password, std::size_t length) noexcept
{
    return length > 0 && std::all_of(password, password + length, [](std::uint8_t b) { return b < 128; });
}

// "quillmere/identity/1" followed by the caller's 65 bytes.
constexpr std::string_view kContextPrefix = "quillmere/identity/1";
static_assert(kContextPrefix.size() + Auth::kLoginContextSize == 85);

[[nodiscard]] Auth::ELoginFailure FailureOf(std::int32_t code) noexcept
{
    return code >= 1 && code <= 5 ? static_cast<Auth::ELoginFailure>(code - 1) : Auth::ELoginFailure::Internal;
}
}

extern "C" std::int32_t opaque_client_start(const std::uint8_t* password, std::size_t password_length,
                                            std::uint8_t* state, std::size_t state_capacity,
                                            std::size_t* state_length, std::uint8_t* ke1) noexcept
{
    if ((password == nullptr && password_length != 0) || state_capacity < Auth::kClientStateSize || state == nullptr ||
        state_length == nullptr || ke1 == nullptr)
    {
        return kBadArguments;
    }
    if (!PasswordAccepted(password, password_length))
    {
        return kPasswordRefused;
    }
    std::array<std::uint8_t, Auth::kClientStateSize> own{};
    std::array<std::uint8_t, Auth::kKe1Size> message{};
    const auto code = ClientStart(SystemRandom(), Bytes(password, password_length), own, message);
    if (code == kOk)
    {
        std::copy(own.begin(), own.end(), state);
        std::copy(message.begin(), message.end(), ke1);
        *state_length = Auth::kClientStateSize;
    }
    Secure::Wipe(own);
    return code;
}

extern "C" std::int32_t opaque_client_finish(const std::uint8_t* state, std::size_t state_length,
                                             const std::uint8_t* password, std::size_t password_length,
                                             const std::uint8_t* ke2, const std::uint8_t* context,
                                             std::size_t context_length, std::int32_t suite, std::uint8_t* ke3,
                                             std::uint8_t* key) noexcept
{
    if (state == nullptr || state_length != Auth::kClientStateSize || ke2 == nullptr || context == nullptr ||
        context_length != Auth::kLoginContextSize || ke3 == nullptr || key == nullptr ||
        (password == nullptr && password_length != 0))
    {
        return kBadArguments;
    }
    if (!PasswordAccepted(password, password_length))
    {
        return kPasswordRefused;
    }
    if (suite != 1)
    {
        return kSuiteNotSupported;
    }
    if (context[0] < 1 || context[0] > 4)
    {
        return kMalformed;
    }
    std::array<std::uint8_t, 85> fullContext{};
    std::copy(context, context + context_length,
              std::copy(kContextPrefix.begin(), kContextPrefix.end(), fullContext.begin()));

    std::array<std::uint8_t, Auth::kKe3Size> message{};
    std::array<std::uint8_t, Auth::kSessionKeySize> session{};
    const auto code = ClientFinish(SSuite{.context = fullContext, .ksf = EKsf::Argon2id},
                                   std::span<const std::uint8_t, 192>(state, 192), Bytes(password, password_length),
                                   std::span<const std::uint8_t, 320>(ke2, 320), message, session);
    if (code == kOk)
    {
        std::copy(message.begin(), message.end(), ke3);
        std::copy(session.begin(), session.end(), key);
    }
    Secure::Wipe(session);
    return code;
}

namespace Auth
{
SLoginStart::SLoginStart(SLoginStart&& other) noexcept
    : state(other.state), stateLength(other.stateLength), ke1(other.ke1), ok(other.ok), failure(other.failure)
{
    Secure::Wipe(other.state);
    other.stateLength = 0;
}

SLoginStart& SLoginStart::operator=(SLoginStart&& other) noexcept
{
    if (this != &other)
    {
        state = other.state;
        stateLength = other.stateLength;
        ke1 = other.ke1;
        ok = other.ok;
        failure = other.failure;
        Secure::Wipe(other.state);
        other.stateLength = 0;
    }
    return *this;
}

SLoginStart::~SLoginStart()
{
    Secure::Wipe(state);
}

SLoginStart LoginStart(std::string_view password) noexcept
{
    SLoginStart result;
    std::array<std::uint8_t, kClientStateSize> buffer{};
    std::size_t length = 0;
    const auto code = opaque_client_start(reinterpret_cast<const std::uint8_t*>(password.data()), password.size(),
                                          buffer.data(), buffer.size(), &length, result.ke1.data());
    if (code == kOk)
    {
        result.state = buffer;
        result.stateLength = length;
        result.ok = true;
    }
    else
    {
        result.failure = FailureOf(code);
    }
    Secure::Wipe(buffer);
    return result;
}

SLoginFinish LoginFinish(SLoginStart& start, std::string_view password, std::span<const std::uint8_t, kKe2Size> ke2,
                         std::span<const std::uint8_t, kLoginContextSize> context, std::int32_t suite) noexcept
{
    std::array<std::uint8_t, kClientStateSize> state = start.state;
    const auto stateLength = static_cast<std::size_t>(start.stateLength);
    Secure::Wipe(start.state);
    start.stateLength = 0;

    SLoginFinish result;
    std::array<std::uint8_t, kSessionKeySize> key{};
    const auto code = opaque_client_finish(state.data(), stateLength,
                                           reinterpret_cast<const std::uint8_t*>(password.data()), password.size(),
                                           ke2.data(), context.data(), context.size(), suite, result.ke3.data(),
                                           key.data());
    Secure::Wipe(key);
    Secure::Wipe(state);
    if (code == kOk)
    {
        result.ok = true;
    }
    else
    {
        result.failure = FailureOf(code);
    }
    return result;
}
}
