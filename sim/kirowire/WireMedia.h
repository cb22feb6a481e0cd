// The media of one wire call: its RTP socket, its SDP offer and answer, the
// 20 ms sending clock that streams a WAV, and the recording of what the far
// end sends (stack thread only).
#pragma once

#include "WireAudio.h"
#include "WireCore.h"

class CWireMedia {
 public:
  ~CWireMedia();
  int Open(const struct sa &laddr, uint16_t nBase, uint16_t nSpan);
  // The local description: an offer, or the answer to the far end's offer.
  int Describe(struct mbuf **ppDesc, bool bOffer);
  // The far end's description, as an offer (INVITE, re-INVITE) or an answer.
  int Learn(struct mbuf *pDesc, bool bOffer);
  int Play(const char *szFile);
  void StopPlay();
  int Record(const char *szFile);
  void StopRecord() { m_record.Close(); }
  // The call is over: nothing more is sent, the recording is completed.
  void End();

 private:
  static void OnTick(void *pArg);
  static void OnRtp(const struct sa *pSource, const struct rtp_header *pHeader, struct mbuf *pBuffer, void *pArg);
  void SendFrame();

  struct rtp_sock *m_pRtp = nullptr;
  struct sdp_session *m_pSdp = nullptr;
  struct sdp_media *m_pMedia = nullptr;
  struct tmr m_tmr;
  uint64_t m_nNextTick = 0;
  uint32_t m_nTimestamp = 0;
  bool m_bMarker = true;
  FILE *m_pPlay = nullptr;
  uint32_t m_nPlayLeft = 0;
  CWireWavWriter m_record;
};
