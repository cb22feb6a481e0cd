// The emulated wave devices: opens, headers, queues, resets and closes (see
// EmulatedWave.h). The device list and the unplug live in
// EmulatedWaveDesk.cpp, moving sound in EmulatedWaveSound.cpp, the function
// table in EmulatedWaveTable.cpp.
#include "audio/EmulatedWave.h"

#include <cstring>

#include "audio/EmulatedWaveLock.h"

namespace {

UINT OpenMessage(ESimWaveDirection eDirection) {
    return eDirection == ESimWaveDirection::Output ? MM_WOM_OPEN : MM_WIM_OPEN;
}

UINT CloseMessage(ESimWaveDirection eDirection) {
    return eDirection == ESimWaveDirection::Output ? MM_WOM_CLOSE : MM_WIM_CLOSE;
}

UINT ReturnMessage(ESimWaveDirection eDirection) {
    return eDirection == ESimWaveDirection::Output ? MM_WOM_DONE : MM_WIM_DATA;
}

// What a USB audio device of the kind takes: PCM, 1 or 2 channels, 8 or 16
// bits, 8 to 48 kHz, with consistent block align and byte rate.
bool IsSupportedFormat(const WAVEFORMATEX &format) {
    if (format.wFormatTag != WAVE_FORMAT_PCM) return false;
    if (format.nChannels < 1 || format.nChannels > 2) return false;
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16) return false;
    if (format.nSamplesPerSec < 8000 || format.nSamplesPerSec > 48000) return false;
    if (format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8) return false;
    return format.nAvgBytesPerSec == format.nSamplesPerSec * format.nBlockAlign;
}

}  // namespace

CEmulatedWave &CEmulatedWave::Instance() {
    static CEmulatedWave instance;
    return instance;
}

CEmulatedWave::CEmulatedWave() : m_hClockThread(nullptr), m_hClockStop(nullptr) {
    InitializeCriticalSection(&m_cs);
    Reset();
}

CEmulatedWave::~CEmulatedWave() {
    StopClock();
    DeleteCriticalSection(&m_cs);
}

void CEmulatedWave::Reset() {
    CLock lock(m_cs);
    for (size_t i = 0; i < 2; ++i) {
        m_devices[i].clear();
        m_nDefault[i] = 0;
        m_nCloses[i] = 0;
        m_nResets[i] = 0;
    }
    m_streams.clear();
    m_nNextHandle = 0x5A10;
    m_eClock = ESimWaveClock::RealTime;
    m_source = [](unsigned char *pDest, size_t nBytes, uint64_t) { memset(pDest, 0, nBytes); };
    m_nWriteResult = MMSYSERR_NOERROR;
    m_nCodePage = 1252;
    m_eLostBlocks = ESimLostBlocks::Returned;
    m_nLostResult = MMSYSERR_NODRIVER;
    m_eStack = ESimWaveStack::Windows;
    m_nDroppedDriverBytes = 0;
    m_played.clear();
    m_opens.clear();
    m_nPreparedAtClose = 0;
    m_nLostNotifications = 0;
    m_nOverrunBytes = 0;
}

void CEmulatedWave::SetStack(ESimWaveStack eStack) {
    CLock lock(m_cs);
    m_eStack = eStack;
}

void CEmulatedWave::RefuseWrites(MMRESULT nResult) {
    CLock lock(m_cs);
    m_nWriteResult = nResult;
}

std::vector<SimWaveOpen> CEmulatedWave::Opens() const {
    CLock lock(m_cs);
    return m_opens;
}

std::vector<unsigned char> CEmulatedWave::PlayedBytes(UINT nDeviceId) const {
    CLock lock(m_cs);
    auto it = m_played.find(nDeviceId);
    return it == m_played.end() ? std::vector<unsigned char>() : it->second;
}

int CEmulatedWave::OpenStreams(ESimWaveDirection eDirection) const {
    CLock lock(m_cs);
    int nCount = 0;
    for (const auto &entry : m_streams) nCount += entry.second.eDirection == eDirection;
    return nCount;
}

int CEmulatedWave::QueuedBlocks(ESimWaveDirection eDirection) const {
    CLock lock(m_cs);
    int nCount = 0;
    for (const auto &entry : m_streams) {
        if (entry.second.eDirection == eDirection) nCount += static_cast<int>(entry.second.queue.size());
    }
    return nCount;
}

int CEmulatedWave::Closes(ESimWaveDirection eDirection) const {
    CLock lock(m_cs);
    return m_nCloses[Index(eDirection)];
}

int CEmulatedWave::Resets(ESimWaveDirection eDirection) const {
    CLock lock(m_cs);
    return m_nResets[Index(eDirection)];
}

int CEmulatedWave::PreparedAtClose() const {
    CLock lock(m_cs);
    return m_nPreparedAtClose;
}

int CEmulatedWave::LostNotifications() const {
    CLock lock(m_cs);
    return m_nLostNotifications;
}

size_t CEmulatedWave::OverrunBytes() const {
    CLock lock(m_cs);
    return m_nOverrunBytes;
}

size_t CEmulatedWave::DroppedDriverBytes() const {
    CLock lock(m_cs);
    return m_nDroppedDriverBytes;
}

MMRESULT CEmulatedWave::Open(ESimWaveDirection eDirection, void **phWave, UINT nId, LPCWAVEFORMATEX pFormat,
                             DWORD_PTR dwCallback, DWORD fdwOpen) {
    CLock lock(m_cs);
    const std::vector<Device> &devices = m_devices[Index(eDirection)];
    int nIndex = DeviceIndex(eDirection, nId);
    UINT nDevice = nIndex < 0 ? nId : PresentId(eDirection, static_cast<size_t>(nIndex));
    SimWaveOpen record{eDirection, nId, nDevice, dwCallback, fdwOpen, {}, MMSYSERR_NOERROR};
    if (pFormat) record.format = *pFormat;
    DWORD dwCallbackType = fdwOpen & CALLBACK_TYPEMASK;
    bool bQuery = (fdwOpen & WAVE_FORMAT_QUERY) != 0;
    if (nIndex < 0) {
        record.nResult = MMSYSERR_BADDEVICEID;
    } else if (!pFormat || (!phWave && !bQuery)) {
        record.nResult = MMSYSERR_INVALPARAM;
    } else if (dwCallbackType != CALLBACK_NULL && dwCallbackType != CALLBACK_THREAD) {
        record.nResult = MMSYSERR_NOTSUPPORTED;  // not emulated: only thread callbacks
    } else if (devices[nIndex].nOpenResult != MMSYSERR_NOERROR) {
        record.nResult = devices[nIndex].nOpenResult;
    } else if (!IsSupportedFormat(*pFormat)) {
        record.nResult = WAVERR_BADFORMAT;
    }
    m_opens.push_back(record);
    if (record.nResult != MMSYSERR_NOERROR || bQuery) return record.nResult;

    Stream stream{eDirection,
                  static_cast<UINT>(nIndex),
                  m_nNextHandle,
                  dwCallback,
                  fdwOpen,
                  *pFormat,
                  {},
                  {},
                  0,
                  false,
                  0,
                  NowMs(),
                  0.0,
                  false,
                  0,
                  {}};
    m_nNextHandle += 0x10;
    *phWave = reinterpret_cast<void *>(stream.nHandle);
    Notify(stream, OpenMessage(eDirection), nullptr);
    m_streams.emplace(stream.nHandle, stream);
    return MMSYSERR_NOERROR;
}

MMRESULT CEmulatedWave::Prepare(ESimWaveDirection eDirection, void *hWave, LPWAVEHDR pHdr, UINT cbHdr) {
    return HeaderCall(eDirection, hWave, pHdr, cbHdr, [](Stream &stream, LPWAVEHDR pValid) {
        if (!pValid->lpData) return static_cast<MMRESULT>(MMSYSERR_INVALPARAM);
        pValid->dwFlags |= WHDR_PREPARED;
        stream.prepared.insert(pValid);
        return static_cast<MMRESULT>(MMSYSERR_NOERROR);
    });
}

MMRESULT CEmulatedWave::Unprepare(ESimWaveDirection eDirection, void *hWave, LPWAVEHDR pHdr, UINT cbHdr) {
    return HeaderCall(eDirection, hWave, pHdr, cbHdr, [](Stream &stream, LPWAVEHDR pValid) {
        if (pValid->dwFlags & WHDR_INQUEUE) return static_cast<MMRESULT>(WAVERR_STILLPLAYING);
        pValid->dwFlags &= ~WHDR_PREPARED;
        stream.prepared.erase(pValid);
        return static_cast<MMRESULT>(MMSYSERR_NOERROR);
    });
}

MMRESULT CEmulatedWave::Enqueue(ESimWaveDirection eDirection, void *hWave, LPWAVEHDR pHdr, UINT cbHdr) {
    return HeaderCall(eDirection, hWave, pHdr, cbHdr, [this](Stream &stream, LPWAVEHDR pValid) {
        if (!(pValid->dwFlags & WHDR_PREPARED)) return static_cast<MMRESULT>(WAVERR_UNPREPARED);
        if (pValid->dwFlags & WHDR_INQUEUE) return static_cast<MMRESULT>(WAVERR_STILLPLAYING);
        bool bOutput = stream.eDirection == ESimWaveDirection::Output;
        if (bOutput && m_nWriteResult != MMSYSERR_NOERROR) return m_nWriteResult;
        pValid->dwFlags = (pValid->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        if (!bOutput) pValid->dwBytesRecorded = 0;
        stream.queue.push_back(pValid);
        return static_cast<MMRESULT>(MMSYSERR_NOERROR);
    });
}

MMRESULT CEmulatedWave::Start(void *hWaveIn) {
    CLock lock(m_cs);
    Stream *pStream = FindStream(ESimWaveDirection::Input, hWaveIn);
    if (!pStream) return MMSYSERR_INVALHANDLE;
    if (MMRESULT nLost = LostCallResult(*pStream)) return nLost;
    pStream->bStarted = true;
    pStream->llLastTick = NowMs();
    pStream->dCredit = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT CEmulatedWave::ResetStream(ESimWaveDirection eDirection, void *hWave) {
    CLock lock(m_cs);
    Stream *pStream = FindStream(eDirection, hWave);
    if (!pStream) return MMSYSERR_INVALHANDLE;
    if (MMRESULT nLost = LostCallResult(*pStream)) return nLost;
    ++m_nResets[Index(eDirection)];
    pStream->bStarted = false;
    // A lost device that still answers keeps what it holds.
    if (!pStream->bLost) ReturnAll(*pStream);
    DropDriverBytes(*pStream);
    return MMSYSERR_NOERROR;
}

MMRESULT CEmulatedWave::Close(ESimWaveDirection eDirection, void *hWave) {
    CLock lock(m_cs);
    Stream *pStream = FindStream(eDirection, hWave);
    if (!pStream) return MMSYSERR_INVALHANDLE;
    if (!pStream->queue.empty()) {
        MMRESULT nLost = pStream->bLost ? LostCallResult(*pStream) : MMSYSERR_NOERROR;
        return nLost ? nLost : static_cast<MMRESULT>(WAVERR_STILLPLAYING);
    }
    ++m_nCloses[Index(eDirection)];
    DropDriverBytes(*pStream);
    m_nPreparedAtClose += static_cast<int>(pStream->prepared.size());
    Notify(*pStream, CloseMessage(eDirection), nullptr);
    m_streams.erase(pStream->nHandle);
    return MMSYSERR_NOERROR;
}

CEmulatedWave::Stream *CEmulatedWave::FindStream(ESimWaveDirection eDirection, void *hWave) {
    auto it = m_streams.find(reinterpret_cast<uintptr_t>(hWave));
    if (it == m_streams.end() || it->second.eDirection != eDirection) return nullptr;
    return &it->second;
}

// A call about a header: the handle and the header checked as the wave API
// checks them, then the call's own work, all under the lock.
MMRESULT CEmulatedWave::HeaderCall(ESimWaveDirection eDirection, void *hWave, LPWAVEHDR pHdr, UINT cbHdr,
                                   const std::function<MMRESULT(Stream &, LPWAVEHDR)> &work) {
    CLock lock(m_cs);
    Stream *pStream = FindStream(eDirection, hWave);
    if (!pStream) return MMSYSERR_INVALHANDLE;
    if (MMRESULT nLost = LostCallResult(*pStream)) return nLost;
    if (!pHdr || cbHdr < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    return work(*pStream, pHdr);
}

void CEmulatedWave::Notify(const Stream &stream, UINT uMsg, LPWAVEHDR pHdr) {
    if ((stream.fdwOpen & CALLBACK_TYPEMASK) != CALLBACK_THREAD) return;
    if (!PostThreadMessageA(static_cast<DWORD>(stream.dwCallback), uMsg, static_cast<WPARAM>(stream.nHandle),
                            reinterpret_cast<LPARAM>(pHdr))) {
        ++m_nLostNotifications;
    }
}

// Under the lock: every queued block back, as a reset returns them. The
// input buffer being filled keeps what it holds; the rest come back empty.
// Output blocks come back unplayed (the head one partly played).
void CEmulatedWave::ReturnAll(Stream &stream) {
    while (!stream.queue.empty()) ReturnHead(stream);
}

// Under the lock: the head block goes back to its owner as done.
void CEmulatedWave::ReturnHead(Stream &stream) {
    LPWAVEHDR pHdr = stream.queue.front();
    stream.queue.pop_front();
    stream.nHeadDone = 0;
    ++stream.nReturned;
    pHdr->dwFlags = (pHdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Notify(stream, ReturnMessage(stream.eDirection), pHdr);
}
