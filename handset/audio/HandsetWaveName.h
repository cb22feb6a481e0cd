// Recognising the handset's USB audio device among the system's wave devices
// by the name the wave API reports for it (szPname of the capabilities).
//
// Windows before Vista reports the device's product name, "C-Media USB
// Headphone Set  " with its two trailing blanks, and only that exact name is
// the handset. Since Vista it reports the endpoint's name instead: the
// endpoint's own name in the system's language, the product name in
// parentheses, sometimes an instance number, all cut to 31 characters and
// converted to the system's ANSI code page ("Speakers (C-Media USB Headphone",
// "Microphone (2- C-Media USB Head", GBK "扬声器 (C-Media USB Headphone S"
// on Chinese Windows, where the conversion may fill all 32 bytes without a
// terminating NUL). An exact name always wins; the endpoint form counts only
// when no device of the direction has the exact name.
//
// Pure string logic without Windows headers: the plug-in's device search and
// the console's device listing share it, and tests can drive it directly.
#pragma once

#include <cstddef>

// The product name the handset's USB audio device reports, two trailing
// blanks included.
extern const char D_szHandsetWaveName[];
// Bytes of a reported name (szPname, MAXPNAMELEN); the name is NUL-terminated
// only when it is shorter.
const size_t D_nWaveNameBytes = 32;
// The least of the product name an endpoint name must show: "C-Media USB H".
// "C-Media USB " is shared with C-Media's other USB audio products ("C-Media
// USB Audio Device"); the letter after it is the first that tells the
// Headphone Set apart, and a cut at 31 characters leaves no more than that
// for an endpoint name of 13 characters with an instance number ("Haut-
// parleurs (2- C-Media USB H").
const size_t D_nEndpointProductMin = 13;

enum class EWaveNameMatch { None, Exact, Endpoint };

// How pszName (at most D_nWaveNameBytes bytes are read) names the handset.
EWaveNameMatch MatchHandsetWaveName(const char *pszName);

// The device the plug-in opens for one direction: offered every device in id
// order, it keeps the first with the exact name, else the first with the
// endpoint form.
class CHandsetWaveChoice {
public:
    CHandsetWaveChoice() : m_nId(0), m_eMatch(EWaveNameMatch::None) {}
    void Offer(unsigned nId, const char *pszName);
    bool Found() const { return m_eMatch != EWaveNameMatch::None; }
    unsigned Id() const { return m_nId; }
    EWaveNameMatch Match() const { return m_eMatch; }

private:
    unsigned m_nId;
    EWaveNameMatch m_eMatch;
};
