// The emulated wave devices of a desk PC with the handset's USB audio device
// among others, as the wave device module sees them through its function
// table (handset/platform/wave_api.h).
//
// It behaves as the Windows wave API does: devices listed by id with their
// names (cut to 31 characters and converted to the system's ANSI code page
// like szPname), WAVE_MAPPER opening the default device, ids past the end
// answered with MMSYSERR_BADDEVICEID, PCM
// formats checked, headers that must be prepared before they are queued and
// may not be unprepared while queued, a close refused while blocks are
// queued. Notifications go to the callback thread as thread messages, as
// with CALLBACK_THREAD: the open notification during the open call, before
// anything else; a done (output) or data (input) notification for every
// block, in queue order; a reset returns every queued block at once (the
// input buffer being filled with what it holds, the others empty); the close
// notification during the close call. A device can be made to refuse opens
// or writes with a chosen result code.
//
// Sound moves in real time (the format's bytes per second, driven by a clock
// thread of the emulation) or on demand (the test plays output blocks and
// captures input bytes itself). Output is recorded byte for byte per device
// as it is heard; input is filled from a sample source the test chooses.
// Capture that finds no buffer queued is lost, as waveInStart's
// documentation says of Windows and as Wine was seen to do. Under Wine's
// stack (SetStack) an output block is done while the sound driver still
// holds its end (see SetStack).
//
// One instance; every entry point takes its lock, so host threads, the wave
// message thread, the clock thread and the test thread may call it at once.
// It never calls into the plug-in: notifications are only posted.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/wave_api.h"

// Fills pDest with nBytes of sound; nOffset counts the bytes this input has
// captured since it was opened.
typedef std::function<void(unsigned char *pDest, size_t nBytes, uint64_t nOffset)> SimSampleSource;

enum class ESimWaveClock { RealTime, OnDemand };
enum class ESimWaveDirection { Output = 0, Input = 1 };
enum class ESimLostBlocks { Returned, Kept };
enum class ESimDeskLanguage { English, Chinese };
enum class ESimWaveStack { Windows, Wine };

struct SimWaveOpen {
    ESimWaveDirection eDirection;
    UINT nRequestedId;  // as passed, WAVE_MAPPER included
    UINT nDeviceId;     // the device that was opened (or refused), by its id then
    DWORD_PTR dwCallback;
    DWORD fdwOpen;
    WAVEFORMATEX format;
    MMRESULT nResult;
};

class CEmulatedWave {
public:
    static constexpr char D_szHandsetName[] = "C-Media USB Headphone Set  ";

    static CEmulatedWave &Instance();

    // Puts the emulation into the wave device module's function table / takes
    // it out again. Only while no wave device is open.
    void Install();
    void Uninstall();
    // Reset, the typical desk, the real-time clock, a tone on the input, and
    // Install: the emulated handset as a demo or a long run uses it.
    void InstallTypicalDesk();

    // Back to no devices, no open streams (dropped without notifications),
    // real-time clock, silent input, writes accepted, nothing recorded, code
    // page 1252, a lost device that returns its blocks with NODRIVER,
    // Windows' stack.
    void Reset();
    // Windows until the next Reset. Under Wine (winmm over its ALSA driver,
    // as seen in the 32-bit guest) an output block is reported done as soon
    // as its last bytes have gone to the driver, which still holds the last
    // D_nWineDriverBytes of the sound then: later blocks or time push them
    // out to be heard, a reset or a close drops them. On demand they are
    // heard only ahead of later blocks.
    void SetStack(ESimWaveStack eStack);
    // 192 samples of 16-bit mono, the most a playback's end lost there.
    static constexpr size_t D_nWineDriverBytes = 384;
    // Outputs and inputs of a typical desk: a built-in device at id 0, the
    // handset at id 1, another device at id 2; the built-in one is default.
    void AddTypicalDevices();
    // The same desk under Windows since Vista, devices named after their
    // endpoints in the system's language and code page (1252 or 936).
    void AddEndpointDevices(ESimDeskLanguage eLanguage);
    // The desk as Wine's ALSA driver lists it (seen in the 32-bit guest with
    // a handset's ALSA devices named after their Windows endpoint): "Out: "
    // or "In: " before the name, and the whole cut to 31 characters, so
    // that the handset's exact name never shows and its endpoint form only
    // cut short; the system's default first, then the named devices, then
    // the sound card. Code page 1252.
    void AddWineDevices();
    // pszName in UTF-8, as the system names the device.
    UINT AddDevice(ESimWaveDirection eDirection, const char *pszName);
    void SetAnsiCodePage(UINT nCodePage);
    void RenameDevice(ESimWaveDirection eDirection, UINT nId, const char *pszName);
    void SetDefaultDevice(ESimWaveDirection eDirection, UINT nId);
    // Opens of the device fail with nResult from now on (0 accepts again).
    void RefuseOpen(ESimWaveDirection eDirection, UINT nId, MMRESULT nResult);
    // waveOutWrite fails with nResult from now on (0 accepts again).
    void RefuseWrites(MMRESULT nResult);

    // How the handset's device is lost at the next unplug.
    void SetLostDevice(ESimLostBlocks eBlocks, MMRESULT nLostResult = MMSYSERR_NODRIVER);
    void UnplugHandset();
    void PlugHandset();
    // Lost streams give back the blocks they kept.
    void ReturnLostBlocks();
    // The HID side's plug listener (see Install).
    static void FollowHandsetPlug(bool bPlugged);

    void SetClock(ESimWaveClock eClock);
    void SetInputSource(SimSampleSource source);
    // Sources for tests: byte i of the capture is (nFirst + i) mod 251; a
    // 440 Hz tone of 16-bit mono samples at 8000 Hz.
    static SimSampleSource CountingSource(uint64_t nFirst = 0);
    static SimSampleSource ToneSource();

    // On demand: plays up to nBlocks whole blocks on every open output.
    // Returns the number of blocks completed.
    int PlayOutputBlocks(int nBlocks);
    // On demand: captures nBytes into the buffers of every started input;
    // bytes with no buffer to go to are lost (an overrun). Returns the bytes
    // that found a buffer.
    size_t CaptureInput(size_t nBytes);

    // True when heard is the expected bytes whole, then at most nSilence
    // bytes of 0x00 and nothing else (a player's closing silence, what of it
    // the stack did not drop).
    static bool IsWholeThenSilence(const std::vector<unsigned char> &heard, const unsigned char *pExpected,
                                   size_t nExpected, size_t nSilence);

    // What happened so far.
    std::vector<SimWaveOpen> Opens() const;
    std::vector<unsigned char> PlayedBytes(UINT nDeviceId) const;
    // Streams not closed, lost ones included.
    int OpenStreams(ESimWaveDirection eDirection) const;
    int LostStreams() const;
    int QueuedBlocks(ESimWaveDirection eDirection) const;
    int Closes(ESimWaveDirection eDirection) const;
    int Resets(ESimWaveDirection eDirection) const;
    // Headers still prepared when their device was closed.
    int PreparedAtClose() const;
    // Notifications that could not be posted (no such thread, or a thread
    // without a message queue).
    int LostNotifications() const;
    size_t OverrunBytes() const;
    // Output bytes the driver held when a reset, a close or an unplug
    // dropped them (Wine's stack).
    size_t DroppedDriverBytes() const;

    // The table's entry points (EmulatedWaveTable.cpp forwards to these).
    UINT GetNumDevs(ESimWaveDirection eDirection);
    MMRESULT GetDevCaps(ESimWaveDirection eDirection, UINT_PTR nId, char *pszName);
    MMRESULT Open(ESimWaveDirection eDirection, void **phWave, UINT nId, LPCWAVEFORMATEX pFormat, DWORD_PTR dwCallback,
                  DWORD fdwOpen);
    MMRESULT Prepare(ESimWaveDirection eDirection, void *hWave, LPWAVEHDR pHdr, UINT cbHdr);
    MMRESULT Unprepare(ESimWaveDirection eDirection, void *hWave, LPWAVEHDR pHdr, UINT cbHdr);
    MMRESULT Enqueue(ESimWaveDirection eDirection, void *hWave, LPWAVEHDR pHdr, UINT cbHdr);
    MMRESULT Start(void *hWaveIn);
    MMRESULT ResetStream(ESimWaveDirection eDirection, void *hWave);
    MMRESULT Close(ESimWaveDirection eDirection, void *hWave);

private:
    struct Device {
        std::string strName;
        MMRESULT nOpenResult;
        bool bHandset;
        bool bPresent;
    };
    struct Stream {
        ESimWaveDirection eDirection;
        UINT nDeviceId;
        uintptr_t nHandle;
        DWORD_PTR dwCallback;
        DWORD fdwOpen;
        WAVEFORMATEX format;
        std::deque<LPWAVEHDR> queue;  // blocks to play / buffers to fill
        std::set<LPWAVEHDR> prepared;
        size_t nHeadDone;      // output: bytes of the head block played or sent to the driver
        bool bStarted;         // input: capturing
        uint64_t nCaptured;    // input: bytes since the open
        ULONGLONG llLastTick;  // real time: when sound last moved
        double dCredit;        // real time: bytes due but not yet moved
        bool bLost;            // its device was unplugged
        int nReturned;         // blocks returned since the open
        std::deque<unsigned char> driver;  // output: sent to the driver, not yet heard
    };
    class CLock;

    CEmulatedWave();
    ~CEmulatedWave();
    Stream *FindStream(ESimWaveDirection eDirection, void *hWave);
    // Devices by the ids the API shows now (present ones only), as indexes
    // into m_devices; -1 for an id past the end.
    int DeviceIndex(ESimWaveDirection eDirection, UINT nId) const;
    UINT PresentCount(ESimWaveDirection eDirection) const;
    UINT PresentId(ESimWaveDirection eDirection, size_t nIndex) const;
    std::string ReportedName(const std::string &strName) const;
    void ReturnAll(Stream &stream);
    // The result a call on a lost stream gets, or 0 to carry on.
    MMRESULT LostCallResult(const Stream &stream) const;
    MMRESULT HeaderCall(ESimWaveDirection eDirection, void *hWave, LPWAVEHDR pHdr, UINT cbHdr,
                        const std::function<MMRESULT(Stream &, LPWAVEHDR)> &work);
    void Notify(const Stream &stream, UINT uMsg, LPWAVEHDR pHdr);
    void ReturnHead(Stream &stream);
    // Output: the driver takes what it has room for from the queued blocks.
    void FeedDriver(Stream &stream);
    void DropDriverBytes(Stream &stream);
    size_t PlayBytes(Stream &stream, size_t nBytes);
    size_t CaptureBytes(Stream &stream, size_t nBytes);
    void Tick();
    void StartClock();
    void StopClock();
    static DWORD WINAPI ClockThread(LPVOID pContext);
    // Milliseconds of the performance counter: the real-time clock moves
    // sound by it, as the suites measure it (Wine's tick count moves in
    // late steps under load).
    static ULONGLONG NowMs();

    mutable CRITICAL_SECTION m_cs;
    std::vector<Device> m_devices[2];
    UINT m_nDefault[2];  // index into m_devices
    UINT m_nCodePage;
    ESimLostBlocks m_eLostBlocks;
    MMRESULT m_nLostResult;
    ESimWaveStack m_eStack;
    size_t m_nDroppedDriverBytes;
    std::map<uintptr_t, Stream> m_streams;
    uintptr_t m_nNextHandle;
    ESimWaveClock m_eClock;
    SimSampleSource m_source;
    MMRESULT m_nWriteResult;
    std::map<UINT, std::vector<unsigned char>> m_played;
    std::vector<SimWaveOpen> m_opens;
    int m_nCloses[2];
    int m_nResets[2];
    int m_nPreparedAtClose;
    int m_nLostNotifications;
    size_t m_nOverrunBytes;
    HANDLE m_hClockThread;
    HANDLE m_hClockStop;

    CEmulatedWave(const CEmulatedWave &) = delete;
    CEmulatedWave &operator=(const CEmulatedWave &) = delete;
};
