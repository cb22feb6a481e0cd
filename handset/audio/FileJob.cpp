// A job slot of the player or the recorder: see FileJob.h.
#include "audio/FileJob.h"

#include <new>

#include "audio/WaveFile.h"

CFileJob::CFileJob(WaveFile *&pFile) : m_pFile(pFile), m_bLive(false), m_nGeneration(0) { InitializeCriticalSection(&m_cs); }

CFileJob::~CFileJob() {
    Release();
    DeleteCriticalSection(&m_cs);
}

bool CFileJob::Create(const char *pszPath, char cMode) {
    m_bLive = false;
    ++m_nGeneration;
    m_pFile = new (std::nothrow) WaveFile(pszPath);
    return m_pFile && m_pFile->Open(cMode);
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
