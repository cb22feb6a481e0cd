// The emulated wave devices: the desk's device lists, the names the
// capabilities report, and the handset's USB audio device going and coming
// with the handset (see EmulatedWave.h).
#include <algorithm>
#include <cstring>

#include "audio/EmulatedWave.h"
#include "audio/EmulatedWaveLock.h"

namespace {

const char D_szHandsetProduct[] = "C-Media USB Headphone Set";

struct DeskNames {
    const char *apszOutputs[3];
    const char *apszInputs[3];
};

// What Windows since Vista calls the typical desk's devices: the endpoint's
// name in the system's language, the device's in parentheses.
const DeskNames D_EnglishDesk = {{"Speakers (Realtek High Definition Audio)", "Speakers (C-Media USB Headphone Set)",
                                  "Realtek Digital Output (Realtek High Definition Audio)"},
                                 {"Microphone (Realtek High Definition Audio)",
                                  "Microphone (C-Media USB Headphone Set)", "Line In (Realtek High Definition Audio)"}};
const DeskNames D_ChineseDesk = {{u8"扬声器 (Realtek High Definition Audio)", u8"扬声器 (C-Media USB Headphone Set)",
                                  "Realtek Digital Output (Realtek High Definition Audio)"},
                                 {u8"麦克风 (Realtek High Definition Audio)", u8"麦克风 (C-Media USB Headphone Set)",
                                  u8"线路输入 (Realtek High Definition Audio)"}};

// Wine's names as its ALSA driver gave them in the 32-bit guest: the
// default device, the named handset device, both devices of the sound card
// (snd-aloop's); AddDevice takes them whole, the capabilities cut them.
const char *const D_apszWineOutputs[] = {"Out: default", "Out: Headset (C-Media USB Headphone Set  )",
                                          "Out: Loopback - Loopback PCM", "Out: Loopback - Loopback PCM"};
const char *const D_apszWineInputs[] = {"In: default", "In: Headset (C-Media USB Headphone Set  )",
                                         "In: Loopback - Loopback PCM", "In: Loopback - Loopback PCM"};

}  // namespace

void CEmulatedWave::AddTypicalDevices() {
    AddDevice(ESimWaveDirection::Output, "Speakers (High Definition Audio Device)");
    AddDevice(ESimWaveDirection::Output, D_szHandsetName);
    AddDevice(ESimWaveDirection::Output, "Digital Output (S/PDIF)");
    AddDevice(ESimWaveDirection::Input, "Microphone (High Definition Audio Device)");
    AddDevice(ESimWaveDirection::Input, D_szHandsetName);
    AddDevice(ESimWaveDirection::Input, "Line In (High Definition Audio Device)");
}

void CEmulatedWave::AddEndpointDevices(ESimDeskLanguage eLanguage) {
    bool bChinese = eLanguage == ESimDeskLanguage::Chinese;
    const DeskNames &names = bChinese ? D_ChineseDesk : D_EnglishDesk;
    SetAnsiCodePage(bChinese ? 936 : 1252);
    for (const char *pszName : names.apszOutputs) AddDevice(ESimWaveDirection::Output, pszName);
    for (const char *pszName : names.apszInputs) AddDevice(ESimWaveDirection::Input, pszName);
}

void CEmulatedWave::AddWineDevices() {
    SetAnsiCodePage(1252);
    for (const char *pszName : D_apszWineOutputs) AddDevice(ESimWaveDirection::Output, pszName);
    for (const char *pszName : D_apszWineInputs) AddDevice(ESimWaveDirection::Input, pszName);
}

UINT CEmulatedWave::AddDevice(ESimWaveDirection eDirection, const char *pszName) {
    CLock lock(m_cs);
    bool bHandset = strstr(pszName, D_szHandsetProduct) != nullptr;
    m_devices[Index(eDirection)].push_back(Device{pszName, MMSYSERR_NOERROR, bHandset, true});
    return PresentCount(eDirection) - 1;
}

void CEmulatedWave::RenameDevice(ESimWaveDirection eDirection, UINT nId, const char *pszName) {
    CLock lock(m_cs);
    int nIndex = DeviceIndex(eDirection, nId);
    if (nIndex >= 0) m_devices[Index(eDirection)][nIndex].strName = pszName;
}

void CEmulatedWave::SetDefaultDevice(ESimWaveDirection eDirection, UINT nId) {
    CLock lock(m_cs);
    int nIndex = DeviceIndex(eDirection, nId);
    m_nDefault[Index(eDirection)] = nIndex >= 0 ? static_cast<UINT>(nIndex) : nId;
}

void CEmulatedWave::RefuseOpen(ESimWaveDirection eDirection, UINT nId, MMRESULT nResult) {
    CLock lock(m_cs);
    int nIndex = DeviceIndex(eDirection, nId);
    if (nIndex >= 0) m_devices[Index(eDirection)][nIndex].nOpenResult = nResult;
}

void CEmulatedWave::SetAnsiCodePage(UINT nCodePage) {
    CLock lock(m_cs);
    m_nCodePage = nCodePage;
}

UINT CEmulatedWave::GetNumDevs(ESimWaveDirection eDirection) {
    CLock lock(m_cs);
    return PresentCount(eDirection);
}

MMRESULT CEmulatedWave::GetDevCaps(ESimWaveDirection eDirection, UINT_PTR nId, char *pszName) {
    CLock lock(m_cs);
    if (nId == WAVE_MAPPER || nId >= PresentCount(eDirection)) return MMSYSERR_BADDEVICEID;
    int nIndex = DeviceIndex(eDirection, static_cast<UINT>(nId));
    std::string strReported = ReportedName(m_devices[Index(eDirection)][nIndex].strName);
    memset(pszName, 0, MAXPNAMELEN);
    memcpy(pszName, strReported.data(), std::min<size_t>(strReported.size(), MAXPNAMELEN));
    return MMSYSERR_NOERROR;
}

// Under the lock. The wide name cut to 31 characters, then converted to the
// ANSI code page: a conversion longer than the field fills all of it.
std::string CEmulatedWave::ReportedName(const std::string &strName) const {
    int nWide = MultiByteToWideChar(CP_UTF8, 0, strName.data(), static_cast<int>(strName.size()), nullptr, 0);
    std::wstring wstrName(static_cast<size_t>(std::max(nWide, 0)), L'\0');
    if (nWide > 0)
        MultiByteToWideChar(CP_UTF8, 0, strName.data(), static_cast<int>(strName.size()), &wstrName[0], nWide);
    if (wstrName.size() > MAXPNAMELEN - 1) wstrName.resize(MAXPNAMELEN - 1);
    int nBytes = WideCharToMultiByte(m_nCodePage, 0, wstrName.data(), static_cast<int>(wstrName.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string strReported(static_cast<size_t>(std::max(nBytes, 0)), '\0');
    if (nBytes > 0) {
        WideCharToMultiByte(m_nCodePage, 0, wstrName.data(), static_cast<int>(wstrName.size()), &strReported[0], nBytes,
                            nullptr, nullptr);
    }
    return strReported;
}

// Under the lock. WAVE_MAPPER is the default device, or the first one when
// the default is unplugged.
int CEmulatedWave::DeviceIndex(ESimWaveDirection eDirection, UINT nId) const {
    const std::vector<Device> &devices = m_devices[Index(eDirection)];
    if (nId == WAVE_MAPPER) {
        UINT nDefault = m_nDefault[Index(eDirection)];
        if (nDefault < devices.size() && devices[nDefault].bPresent) return static_cast<int>(nDefault);
        nId = 0;
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].bPresent && nId-- == 0) return static_cast<int>(i);
    }
    return -1;
}

UINT CEmulatedWave::PresentCount(ESimWaveDirection eDirection) const {
    const std::vector<Device> &devices = m_devices[Index(eDirection)];
    return PresentId(eDirection, devices.size());
}

UINT CEmulatedWave::PresentId(ESimWaveDirection eDirection, size_t nIndex) const {
    const std::vector<Device> &devices = m_devices[Index(eDirection)];
    UINT nId = 0;
    for (size_t i = 0; i < nIndex && i < devices.size(); ++i) nId += devices[i].bPresent;
    return nId;
}

void CEmulatedWave::SetLostDevice(ESimLostBlocks eBlocks, MMRESULT nLostResult) {
    CLock lock(m_cs);
    m_eLostBlocks = eBlocks;
    m_nLostResult = nLostResult;
}

void CEmulatedWave::UnplugHandset() {
    CLock lock(m_cs);
    for (std::vector<Device> &devices : m_devices) {
        for (Device &device : devices)
            if (device.bHandset) device.bPresent = false;
    }
    for (auto &entry : m_streams) {
        Stream &stream = entry.second;
        if (stream.bLost || !m_devices[Index(stream.eDirection)][stream.nDeviceId].bHandset) continue;
        stream.bLost = true;
        stream.bStarted = false;
        DropDriverBytes(stream);
        if (m_eLostBlocks == ESimLostBlocks::Returned) ReturnAll(stream);
    }
}

void CEmulatedWave::PlugHandset() {
    CLock lock(m_cs);
    for (std::vector<Device> &devices : m_devices) {
        for (Device &device : devices)
            if (device.bHandset) device.bPresent = true;
    }
}

void CEmulatedWave::ReturnLostBlocks() {
    CLock lock(m_cs);
    for (auto &entry : m_streams)
        if (entry.second.bLost) ReturnAll(entry.second);
}

void CEmulatedWave::FollowHandsetPlug(bool bPlugged) {
    if (bPlugged) {
        Instance().PlugHandset();
    } else {
        Instance().UnplugHandset();
    }
}

int CEmulatedWave::LostStreams() const {
    CLock lock(m_cs);
    return static_cast<int>(
        std::count_if(m_streams.begin(), m_streams.end(), [](const auto &entry) { return entry.second.bLost; }));
}

MMRESULT CEmulatedWave::LostCallResult(const Stream &stream) const {
    return stream.bLost ? m_nLostResult : static_cast<MMRESULT>(MMSYSERR_NOERROR);
}
