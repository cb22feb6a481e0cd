// A job slot of the player or the recorder: see FileJob.h.
#include "audio/FileJob.h"

#include <cstring>
#include <new>

#include "audio/WaveFile.h"

CFileJob::CFileJob(WaveFile *&pFile) : m_pFile(pFile), m_bLive(false), m_nGeneration(0) {}

CFileJob::~CFileJob() { Release(); }

bool CFileJob::Create(const char *pszPath, char cMode) {
    m_bLive = false;
    ++m_nGeneration;
    m_pFile = new (std::nothrow) WaveFile(pszPath);
    if (m_pFile && m_pFile->Open(cMode)) return true;
    Discard();
    return false;
}

void CFileJob::Discard() {
    if (!m_pFile) return;
    // Only a file this job opened for writing is ours to delete: a path the
    // open refused may name someone else's file.
    bool bCreated = m_pFile->m_cMode == 'w' && m_pFile->m_pFile;
    char szPath[sizeof m_pFile->m_szPath];
    memcpy(szPath, m_pFile->m_szPath, sizeof szPath);
    Release();
    if (bCreated) DeleteFileA(szPath);
}

bool CFileJob::OpenedFor(unsigned nJob, MMRESULT nOpened, void (*pfnStopDevice)(const CDeadline &),
                         const CDeadline &stopWait) {
    if (!Exists() || Generation() != nJob) {
        if (nOpened == MMSYSERR_NOERROR && !Exists()) pfnStopDevice(stopWait);
        return false;
    }
    if (nOpened == MMSYSERR_NOERROR) return true;
    Discard();
    return false;
}

bool CFileJob::Release() {
    WaveFile *pFile = m_pFile;
    if (!pFile) return false;
    m_pFile = nullptr;
    m_bLive = false;
    pFile->Close();
    delete pFile;
    return true;
}
