#include "net/Http.h"

#include "net/HttpRules.h"
#include "net/HttpWin.h"
#include "base/Secure.h"
#include "base/Text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace Net
{
namespace Detail
{
void CALLBACK OnSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) noexcept
{
    if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE || context == 0 || information == nullptr ||
        length < sizeof(std::uint32_t))
    {
        return;
    }
    std::uint32_t word = 0;
    std::memcpy(&word, information, sizeof(word));
    reinterpret_cast<std::atomic<std::uint32_t>*>(context)->fetch_or(word, std::memory_order_relaxed);
}

std::expected<void, std::string> SelectProtocols(const std::function<bool(DWORD protocols)>& set)
{
    if (set(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3) ||
        set(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2))
    {
        return {};
    }
    return std::unexpected(Text::WithWinHttpError("TLS 1.2 is not this machine's", GetLastError()));
}

UniqueCertificate ServerCertificate(HINTERNET request) noexcept
{
    PCCERT_CONTEXT context = nullptr;
    DWORD size = sizeof(context);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &context, &size))
    {
        return {};
    }
    return UniqueCertificate(context);
}

std::string IssuerOrganisation(PCCERT_CONTEXT certificate)
{
    if (certificate == nullptr)
    {
        return {};
    }
    wchar_t name[128] = {};
    char organisation_oid[] = szOID_ORGANIZATION_NAME; // "2.5.4.10"
    DWORD length = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, CERT_NAME_ISSUER_FLAG, organisation_oid,
                                      name, 128);
    if (length < 2)
    {
        length = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, name,
                                    128);
    }
    if (length < 2)
    {
        return {};
    }
    return IssuerText(Text::WideToUtf8(std::wstring_view(name, length - 1)));
}

SFailure Failure(DWORD error, std::uint32_t flags, const std::function<UniqueCertificate()>& certificate)
{
    if (error != ERROR_WINHTTP_SECURE_FAILURE)
    {
        return Text::WithWinHttpError("no answer", error);
    }
    std::string organisation;
    if (NeedsIssuer(flags))
    {
        const UniqueCertificate refused = certificate();
        organisation = IssuerOrganisation(refused.get());
    }
    return {SecureFailureText(flags, organisation), SecureFailureClass(flags)};
}
}

namespace
{
using Detail::UniqueInternet;

constexpr DWORD kStepTimeoutMs = 5000;
constexpr std::uint32_t kRequestTimeoutMs = 5000;
constexpr std::uint32_t kFetchTimeoutMs = 30000;
constexpr std::size_t kFetchBufferBytes = 262144;

std::expected<std::uint32_t, std::string> ReadStatus(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    {
        return std::unexpected(Text::WithWinHttpError("no status", GetLastError()));
    }
    return status;
}

// A body that ended before its Content-Length: WinHTTP under Wine reports the closed
// connection as the end of the body. Windows' code for a cut connection is 12030.
bool BodyCutShort(HINTERNET request, std::uint64_t received)
{
    wchar_t value[32] = {};
    DWORD size = sizeof(value);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, value, &size,
                             WINHTTP_NO_HEADER_INDEX))
    {
        return false;
    }
    std::string digits;
    for (std::size_t i = 0; i < size / sizeof(wchar_t); ++i)
    {
        digits += value[i] < 0x80 ? static_cast<char>(value[i]) : '?';
    }
    return CutShort(digits, received);
}

std::string CutShortText()
{
    return Text::WithWinHttpError("the answer breaks off", ERROR_WINHTTP_CONNECTION_ERROR);
}

bool HasBody(std::string_view method, std::uint32_t status) noexcept
{
    return method != "HEAD" && status != 204 && status != 304 && status >= 200;
}

// Grows the body to `size` bytes; a move to a larger block wipes the old one, since the body
// may hold tokens.
void GrowWiped(std::vector<std::uint8_t>& body, std::size_t size)
{
    if (size > body.capacity())
    {
        std::vector<std::uint8_t> larger;
        larger.reserve(std::max(size, body.capacity() * 2));
        larger.assign(body.begin(), body.end());
        Secure::Wipe(body);
        body = std::move(larger);
    }
    body.resize(size);
}

struct alignas(32) SFetchBuffer
{
    std::uint8_t bytes[kFetchBufferBytes];
};
}

std::expected<void, SFailure> Send(std::string_view baseUrl, std::string_view method, std::string_view path,
                                   const std::wstring& headers, std::span<const std::uint8_t> body,
                                   std::uint32_t receiveTimeoutMs, const AnswerReader& reader, ERedirects redirects)
{
    const std::wstring url = Text::Utf8ToWide(baseUrl);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1); // a query or fragment is split off and dropped
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
    {
        return std::unexpected(Text::WithWinHttpError("not a URL", GetLastError()));
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTPS)
    {
        return std::unexpected(std::string("a Release client speaks HTTPS alone"));
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring object = RequestPath(
        parts.lpszUrlPath != nullptr ? std::wstring_view(parts.lpszUrlPath, parts.dwUrlPathLength) : std::wstring_view(),
        Text::Utf8ToWide(path));
    const std::wstring verb = Text::Utf8ToWide(method);
    if (body.size() > MAXDWORD)
    {
        return std::unexpected(Text::WithWinHttpError("no answer", ERROR_INVALID_PARAMETER));
    }
    const DWORD body_length = static_cast<DWORD>(body.size());

    // Declared in this order so that they close in the reverse: request, connection, session.
    UniqueInternet session(
        WinHttpOpen(L"Quillmere", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
    {
        return std::unexpected(Text::WithWinHttpError("WinHTTP does not start", GetLastError()));
    }
    if (!WinHttpSetTimeouts(session.get(), kStepTimeoutMs, kStepTimeoutMs, kStepTimeoutMs,
                            static_cast<int>(receiveTimeoutMs)))
    {
        return std::unexpected(Text::WithWinHttpError("WinHTTP does not start", GetLastError()));
    }
    // Windows gives up on silent headers after the receive timeout, as every read waits at
    // most that long; Wine waits for its 90 s response timeout unless told otherwise.
    DWORD response_timeout = receiveTimeoutMs;
    (void)WinHttpSetOption(session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                           sizeof(response_timeout));
    if (auto selected = Detail::SelectProtocols([&](DWORD protocols) {
            return WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols)) !=
                   FALSE;
        });
        !selected)
    {
        return std::unexpected(std::move(selected.error()));
    }
    if (redirects == ERedirects::Refuse)
    {
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy)))
        {
            return std::unexpected(Text::WithWinHttpError("WinHTTP does not start", GetLastError()));
        }
    }
    DWORD fast_fallback = TRUE;
    (void)WinHttpSetOption(session.get(), WINHTTP_OPTION_IPV6_FAST_FALLBACK, &fast_fallback, sizeof(fast_fallback));

    std::atomic<std::uint32_t> secure_flags{0};
    UniqueInternet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    UniqueInternet request;
    if (connection)
    {
        request.reset(WinHttpOpenRequest(connection.get(), verb.c_str(), object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    }
    bool sent = false;
    if (request)
    {
        (void)WinHttpSetStatusCallback(request.get(), Detail::OnSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
        sent = WinHttpSendRequest(request.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                  headers.empty() ? 0 : static_cast<DWORD>(-1),
                                  body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<std::uint8_t*>(body.data()),
                                  body_length, body_length, reinterpret_cast<DWORD_PTR>(&secure_flags)) &&
               WinHttpReceiveResponse(request.get(), nullptr);
    }
    if (!sent)
    {
        const DWORD error = GetLastError();
        return std::unexpected(Detail::Failure(error, secure_flags.load(), [&] {
            return Detail::ServerCertificate(request.get());
        }));
    }
    if (auto read = reader(request.get()); !read)
    {
        return std::unexpected(std::move(read.error()));
    }
    return {};
}

std::expected<SAnswer, SFailure> Request(std::string_view baseUrl, std::string_view method, std::string_view path,
                                         std::span<const std::uint8_t> body, std::uint64_t maxSize)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestDeadlineMs);
    SAnswer answer;
    const std::wstring headers = body.empty() ? std::wstring() : std::wstring(L"Content-Type: application/json\r\n");
    auto sent = Send(
        baseUrl, method, path, headers, body, kRequestTimeoutMs,
        [&](void* request) -> std::expected<void, std::string> {
            auto status = ReadStatus(request);
            if (!status)
            {
                return std::unexpected(std::move(status.error()));
            }
            answer.status = *status;
            for (;;)
            {
                // Every wait for more of the body ends at the deadline at the latest.
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
                if (left <= 0)
                {
                    return std::unexpected(Text::WithWinHttpError("the answer breaks off", ERROR_WINHTTP_TIMEOUT));
                }
                DWORD wait = static_cast<DWORD>(std::min<long long>(left, kRequestTimeoutMs));
                (void)WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &wait, sizeof(wait));
                DWORD available = 0;
                if (!WinHttpQueryDataAvailable(request, &available))
                {
                    return std::unexpected(Text::WithWinHttpError("the answer breaks off", GetLastError()));
                }
                if (available == 0)
                {
                    if (HasBody(method, answer.status) && BodyCutShort(request, answer.body.size()))
                    {
                        return std::unexpected(CutShortText());
                    }
                    return {};
                }
                const std::size_t had = answer.body.size();
                if (available > maxSize - had)
                {
                    return std::unexpected(std::string("the answer is too long"));
                }
                GrowWiped(answer.body, had + available);
                DWORD read = 0;
                if (!WinHttpReadData(request, answer.body.data() + had, available, &read))
                {
                    return std::unexpected(Text::WithWinHttpError("the answer breaks off", GetLastError()));
                }
                answer.body.resize(had + read);
            }
        },
        ERedirects::Refuse);
    if (!sent)
    {
        Secure::Wipe(answer.body);
        return std::unexpected(std::move(sent.error()));
    }
    return answer;
}

namespace
{
using Sink = std::function<bool(std::span<const std::uint8_t>)>;

// Fetch on the calling thread, which WinHTTP holds for as long as it waits.
std::expected<std::uint32_t, std::string> FetchHere(std::string_view baseUrl, std::string_view path,
                                                    std::uint64_t offset, std::uint64_t length, const Sink& sink)
{
    std::uint32_t answered = 0;
    const std::string range = RangeHeader(offset, length);
    const std::wstring headers(range.begin(), range.end()); // ASCII
    auto sent = Send(baseUrl, "GET", path, headers, {}, kFetchTimeoutMs,
                     [&](void* request) -> std::expected<void, std::string> {
                         auto status = ReadStatus(request);
                         if (!status)
                         {
                             return std::unexpected(std::move(status.error()));
                         }
                         answered = *status;
                         if (answered != 200 && answered != 206)
                         {
                             return {};
                         }
                         // Every read takes only what has arrived (a read of more waits, under
                         // Wine, until it has all of it), and the bytes go to the sink when the
                         // buffer is full or a second after the last time, so that the sink also
                         // sees an answer that trickles.
                         const auto buffer = std::make_unique<SFetchBuffer>();
                         std::uint64_t received = 0;
                         std::size_t held = 0;
                         auto handed = std::chrono::steady_clock::now();
                         const auto hand = [&] {
                             const bool more = held == 0 || sink(std::span<const std::uint8_t>(buffer->bytes, held));
                             held = 0;
                             handed = std::chrono::steady_clock::now();
                             return more;
                         };
                         for (;;)
                         {
                             DWORD available = 0;
                             if (!WinHttpQueryDataAvailable(request, &available))
                             {
                                 return std::unexpected(Text::WithWinHttpError("the answer breaks off", GetLastError()));
                             }
                             DWORD read = 0;
                             const auto want = static_cast<DWORD>(std::min<std::size_t>(available, kFetchBufferBytes - held));
                             if (available != 0 && !WinHttpReadData(request, buffer->bytes + held, want, &read))
                             {
                                 return std::unexpected(Text::WithWinHttpError("the answer breaks off", GetLastError()));
                             }
                             if (read == 0)
                             {
                                 if (!hand())
                                 {
                                     return std::unexpected(std::string("stopped"));
                                 }
                                 if (BodyCutShort(request, received))
                                 {
                                     return std::unexpected(CutShortText());
                                 }
                                 return {};
                             }
                             received += read;
                             held += read;
                             if ((held == kFetchBufferBytes ||
                                     std::chrono::steady_clock::now() - handed >= std::chrono::seconds(1)) &&
                                 !hand())
                             {
                                 return std::unexpected(std::string("stopped"));
                             }
                         }
                     });
    if (!sent)
    {
        return std::unexpected(std::move(sent.error().text));
    }
    return answered;
}

// A stoppable fetch. WinHTTP's synchronous calls cannot be woken: closing the request handle
// from another thread leaves a blocked WinHttpReceiveResponse or WinHttpQueryDataAvailable
// waiting under Wine (Windows documents the close only for asynchronous requests), and a
// receive timeout cut into short slices ends the request for good while it waits for the
// headers. So the transfer runs on a thread of its own that owns all it touches; a caller that
// stops leaves at once, and the thread hands nothing more and ends when its WinHTTP call
// returns. The thread copies each chunk into one of two slots and reads on while the caller's
// sink takes the other: the network and the sink overlap, and neither waits for the other on
// every chunk (a hand-over per chunk made downloads a third slower under Wine).
struct STransfer
{
    std::string base;
    std::string path;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;

    std::mutex lock;
    std::condition_variable_any changed;
    std::array<std::vector<std::uint8_t>, 2> slots; // filled by the thread, emptied by the caller
    std::array<bool, 2> full{};
    std::size_t filling = 0; // the slot the thread fills next
    bool left = false;       // the caller has stopped and gone
    bool finished = false;
    std::expected<std::uint32_t, std::string> result;
};

void Transfer(const std::shared_ptr<STransfer>& transfer)
{
    STransfer& t = *transfer;
    auto result = FetchHere(t.base, t.path, t.offset, t.length, [&t](std::span<const std::uint8_t> chunk) {
        std::unique_lock hold(t.lock);
        t.changed.wait(hold, [&t] { return !t.full[t.filling] || t.left; });
        if (t.left)
        {
            return false;
        }
        t.slots[t.filling].assign(chunk.begin(), chunk.end());
        t.full[t.filling] = true;
        t.filling ^= 1;
        t.changed.notify_all();
        return true;
    });
    const std::lock_guard hold(t.lock);
    t.result = std::move(result);
    t.finished = true;
    t.changed.notify_all();
}
}

std::expected<std::uint32_t, std::string> Fetch(std::string_view baseUrl, std::string_view path, std::uint64_t offset,
                                                std::uint64_t length, const Sink& sink, std::stop_token stop)
{
    if (!stop.stop_possible())
    {
        return FetchHere(baseUrl, path, offset, length, sink);
    }
    if (stop.stop_requested())
    {
        return std::unexpected(std::string("stopped"));
    }
    const auto transfer = std::make_shared<STransfer>();
    transfer->base = baseUrl;
    transfer->path = path;
    transfer->offset = offset;
    transfer->length = length;
    try
    {
        std::thread([transfer] { Transfer(transfer); }).detach();
    }
    catch (const std::system_error&)
    {
        return FetchHere(baseUrl, path, offset, length, sink); // only the stop comes later
    }
    STransfer& t = *transfer;
    std::unique_lock hold(t.lock);
    const auto leave = [&t, &hold] {
        t.left = true;
        t.changed.notify_all();
        hold.unlock();
    };
    for (std::size_t taking = 0;; taking ^= 1)
    {
        if (!t.changed.wait(hold, stop, [&t, taking] { return t.full[taking] || t.finished; }))
        {
            leave();
            return std::unexpected(std::string("stopped"));
        }
        if (!t.full[taking])
        {
            return std::move(t.result); // finished, and every chunk handed
        }
        const std::span<const std::uint8_t> chunk(t.slots[taking]);
        hold.unlock();
        bool more = false;
        try
        {
            more = sink(chunk);
        }
        catch (...)
        {
            hold.lock();
            leave(); // the thread is not left waiting for a slot
            throw;
        }
        hold.lock();
        t.full[taking] = false;
        t.changed.notify_all();
        if (!more)
        {
            leave();
            return std::unexpected(std::string("stopped"));
        }
    }
}
}
