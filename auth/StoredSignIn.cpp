#include "auth/StoredSignIn.h"

#include <algorithm>

namespace Auth
{
std::string CredentialTarget(std::string_view first_service_url)
{
    return std::string(kCredentialPrefix) + std::string(first_service_url);
}

bool CStoredSignIn::ReadStoredSignIn()
{
    m_signedIn = false;
    if (auto entry = m_store.Read(m_target);
        entry && entry->blob.size() == m_token.size() && !entry->userName.empty())
    {
        std::copy(entry->blob.begin(), entry->blob.end(), m_token.begin());
        m_login = std::move(entry->userName);
        m_signedIn = true;
    }
    return m_signedIn;
}

void CStoredSignIn::WriteStoredSignIn()
{
    m_store.Write(m_target, m_login, m_token);
}

void CStoredSignIn::ForgetStoredSignIn()
{
    Drop();
    m_store.Delete(m_target);
}

void CStoredSignIn::ApplyOutcome(SLoginOutcome& outcome)
{
    switch (outcome.kind)
    {
    case EOutcome::SignedIn:
        m_signedIn = true;
        m_token = outcome.refresh;
        Secure::Wipe(outcome.refresh);
        if (!outcome.login.empty())
        {
            m_login = outcome.login;
        }
        else
        {
            outcome.login = m_login;
        }
        WriteStoredSignIn();
        break;
    case EOutcome::Unauthorised:
        ForgetStoredSignIn();
        break;
    default:
        break;
    }
}

void CStoredSignIn::Drop() noexcept
{
    Secure::Wipe(m_token);
    m_signedIn = false;
}
}
