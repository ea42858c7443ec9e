// Argon2id through libgcrypt, its lanes run on a small pool of threads that lives as long as
// the process: starting a thread per lane and slice costs more than it saves. The pool has one
// thread per core (at most one per lane): each of the twelve slices ends in a wait for all its
// lanes, and more threads than cores only take turns and add wake-ups, which under Wine go
// through the wineserver (4 threads on 2 cores: best 110 ms; 2 threads: 100 ms).
#include "auth/OpaqueCore.h"

#include <gcrypt.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace Auth::Opaque
{
namespace
{
[[nodiscard]] bool GcryptReady() noexcept
{
    static const bool ready = [] {
        if (gcry_check_version(GCRYPT_VERSION) == nullptr)
        {
            return false;
        }
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ready;
}

// The jobs of one computation; several computations may share the pool at once.
struct SBatch
{
    std::mutex mutex;
    std::condition_variable done;
    std::size_t pending = 0;
};

class CLanePool
{
public:
    // Null when no thread could be started: the caller then computes on its own thread.
    static CLanePool* Get() noexcept
    {
        static CLanePool* const pool = [] {
            CLanePool* made = nullptr;
            try
            {
                // Never destroyed: its threads wait for the process to end.
                made = new CLanePool(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
            }
            catch (...)
            {
                made = nullptr;
            }
            return made;
        }();
        return pool;
    }

    // gcry_kdf_thread_ops_t hooks, with the batch as jobs_context.
    static int Dispatch(void* context, gcry_kdf_job_fn_t job, void* priv)
    {
        auto& batch = *static_cast<SBatch*>(context);
        CLanePool* pool = Get();
        {
            std::lock_guard lock(batch.mutex);
            ++batch.pending;
        }
        try
        {
            std::lock_guard lock(pool->m_mutex);
            pool->m_jobs.push_back({job, priv, &batch});
        }
        catch (...)
        {
            Run({job, priv, &batch}); // no room in the queue: do it here
            return 0;
        }
        pool->m_wake.notify_one();
        return 0;
    }

    static int WaitAll(void* context)
    {
        auto& batch = *static_cast<SBatch*>(context);
        std::unique_lock lock(batch.mutex);
        batch.done.wait(lock, [&] { return batch.pending == 0; });
        return 0;
    }

private:
    struct SJob
    {
        gcry_kdf_job_fn_t run;
        void* priv;
        SBatch* batch;
    };

    explicit CLanePool(unsigned threads)
    {
        for (unsigned i = 0; i < threads; ++i)
        {
            std::thread([this] { Serve(); }).detach();
        }
    }

    static void Run(const SJob& job) noexcept
    {
        job.run(job.priv);
        std::lock_guard lock(job.batch->mutex);
        if (--job.batch->pending == 0)
        {
            job.batch->done.notify_all();
        }
    }

    void Serve() noexcept
    {
        for (;;)
        {
            SJob job{};
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return !m_jobs.empty(); });
                job = m_jobs.front();
                m_jobs.pop_front();
            }
            Run(job);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<SJob> m_jobs;
};
}

bool Argon2id(Bytes password, const SArgon2Params& params, std::span<std::uint8_t> out) noexcept
{
    if (!GcryptReady() || out.empty())
    {
        return false;
    }
    const unsigned long values[4] = {static_cast<unsigned long>(out.size()), params.passes, params.memoryKiB,
                                     params.lanes};
    gcry_kdf_hd_t kdf = nullptr;
    if (gcry_kdf_open(&kdf, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, values, 4, password.data(), password.size(),
                      params.salt.data(), params.salt.size(), params.secret.data(), params.secret.size(),
                      params.associatedData.data(), params.associatedData.size()) != 0)
    {
        return false;
    }
    SBatch batch;
    const gcry_kdf_thread_ops_t ops{&batch, &CLanePool::Dispatch, &CLanePool::WaitAll};
    const bool threaded = params.lanes > 1 && CLanePool::Get() != nullptr;
    const bool ok = gcry_kdf_compute(kdf, threaded ? &ops : nullptr) == 0 &&
                    gcry_kdf_final(kdf, out.size(), out.data()) == 0;
    gcry_kdf_close(kdf); // wipes and frees the memory blocks
    return ok;
}
}
