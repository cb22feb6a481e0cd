// What one call of the handset soak must leave behind: the digits, the
// command lines on the wire and the audio devices (see HandsetCall.cpp).
#include <algorithm>

#include "HandsetSoak.h"
#include "audio/EmulatedWave.h"
#include "hid/EmulatedHid.h"
#include "stopwatch.h"

namespace {

const DWORD D_dwAudioCloseMs = 3000;
const char D_szCallLetters[] = "ZBPTQHS";  // what the call's own exports send

CEmulatedWave &Wave() { return CEmulatedWave::Instance(); }

// Length of the longest common subsequence: what of the keyed digits came
// through in order.
size_t CommonInOrder(const std::string &strA, const std::string &strB) {
    std::vector<size_t> row(strB.size() + 1, 0);
    for (char cA : strA) {
        size_t nDiagonal = 0;
        for (size_t j = 1; j <= strB.size(); ++j) {
            const size_t nAbove = row[j];
            row[j] = cA == strB[j - 1] ? nDiagonal + 1 : std::max(row[j], row[j - 1]);
            nDiagonal = nAbove;
        }
    }
    return row[strB.size()];
}

// True if strReceived is the digits of some of the lines, each whole, in
// the order keyed: what may remain when the handset was unplugged.
bool WholeLinesInOrder(const std::vector<std::string> &lines, const std::string &strReceived) {
    std::vector<bool> reachable(strReceived.size() + 1, false);
    reachable[0] = true;
    for (const std::string &strLine : lines) {
        for (size_t nAt = strReceived.size() + 1; nAt-- > 0;) {
            if (reachable[nAt] && strReceived.compare(nAt, strLine.size(), strLine) == 0 &&
                nAt + strLine.size() <= strReceived.size())
                reachable[nAt + strLine.size()] = true;
        }
    }
    return reachable[strReceived.size()];
}

// "AT", a letter, digits for B only, CR LF.
bool IsWholeCommandLine(const std::string &strLine) {
    if (strLine.size() < 5 || strLine.compare(0, 2, "AT") != 0 || strLine.compare(strLine.size() - 2, 2, "\r\n") != 0)
        return false;
    const char cLetter = strLine[2];
    if (strLine.size() > 5 && cLetter != 'B') return false;
    return std::string("BCEFGHIJKLOPQSTZ").find(cLetter) != std::string::npos;
}

bool AudioClosed() {
    return Wave().OpenStreams(ESimWaveDirection::Output) == 0 && Wave().OpenStreams(ESimWaveDirection::Input) == 0;
}

}  // namespace

void CHandsetSoak::CheckDigits(const std::string &strReceived) {
    std::string strKeyed;
    std::vector<std::string> taken;
    for (const SKeyedLine &line : m_keyed) {
        strKeyed += line.strDigits;
        if (line.bTaken) taken.push_back(line.strDigits);
    }
    m_nDigitsKeyed += static_cast<long long>(strKeyed.size());
    m_nDigitsReceived += static_cast<long long>(strReceived.size());
    const bool bHolds = m_bDisturbed ? WholeLinesInOrder(taken, strReceived) : strReceived == strKeyed;
    if (bHolds) {
        m_nDigitsUnplugged += static_cast<long long>(strKeyed.size() - strReceived.size());
    } else {
        const size_t nCommon = CommonInOrder(strKeyed, strReceived);
        m_nDigitsLost += static_cast<long long>(strKeyed.size() - nCommon);
        m_nDigitsDuplicated += static_cast<long long>(strReceived.size() - nCommon);
    }
    m_checks.Check("digits in order", bHolds, m_nCall, "keyed " + strKeyed + ", received " + strReceived);
}

// Takes the command lines the handset received so far off the emulated
// desk, while no host thread is halfway through one (Hold) and the dial
// thread is not inside TV_StartDial (it holds no lock of ours across its
// pause; its lines wait for the next take).
void CHandsetSoak::CollectWire() {
    if (m_bDialing) return;
    m_hostThreads.Hold();
    const std::vector<std::string> lines = CEmulatedHid::Instance().CommandLines();
    CEmulatedHid::Instance().ClearReports();
    m_hostThreads.Release();
    for (const std::string &strLine : lines) {
        if (strLine.size() > 2 && std::string(D_szCallLetters).find(strLine[2]) != std::string::npos)
            m_strCallLetters += strLine[2];
        if (m_bDisturbed) continue;  // a line cut by the unplug may be glued to the next
        m_checks.Check("command lines whole", IsWholeCommandLine(strLine), m_nCall,
                       "a command line is AT, a letter, CR LF: " + strLine);
        if (strLine.size() > 2 && strLine[2] == 'B')
            m_checks.Check("command lines whole", strLine == "ATB" + m_strDialed + "\r\n", m_nCall,
                           "the dial line carries the number dialled");
    }
}

void CHandsetSoak::CheckCallLetters() {
    if (m_bDisturbed) return;
    // Off hook, then the dial's own Z and B beside play and record, then the
    // hang-up; the dial's pair is taken out to see the call's order.
    const std::string &strLetters = m_strCallLetters;
    std::string strCall = strLetters;
    const size_t nDialZ = strCall.find('Z', 1);
    const size_t nDialB = strCall.find('B');
    const bool bDialInOrder = nDialZ != std::string::npos && nDialB != std::string::npos && nDialZ < nDialB;
    if (bDialInOrder) {
        strCall.erase(nDialB, 1);
        strCall.erase(nDialZ, 1);
    }
    m_checks.Check("command lines whole", bDialInOrder && strCall == "ZPTQH", m_nCall,
                   "call letters on the wire " + strLetters + ", expected Z, Z before B, P, T, Q, H");
}

// The play ended by itself and the record stop waited for its input, so
// both directions close on their own; then the emulated device starts the
// next call afresh, which keeps its record of played bytes from growing.
void CHandsetSoak::SettleAudio() {
    const CStopwatch sinceStart;
    while (!AudioClosed() && sinceStart.ElapsedMs() < D_dwAudioCloseMs) Sleep(1);
    if (!m_checks.Check("audio closed after the call", AudioClosed(), m_nCall,
                        "a wave device is still open after the call"))
        return;
    LayOutSoakAudio();
}
