// Media of a wire call (see WireMedia.h). The clock ticks every 20 ms from
// the call's start, on absolute times so that a late tick does not stretch
// the stream; each tick sends 160 samples of the playing file, if any, in the
// negotiated G.711 law. Received packets of either law are recorded.
#include "WireMedia.h"

namespace {
const uint32_t D_nFrameSamples = 160;  // 20 ms at 8 kHz
const uint64_t D_nFrameMs = 20;
const int D_nPcmu = 0, D_nPcma = 8;

// The payload type both ends agreed on; -1 before an answer.
int AgreedPayload(const struct sdp_media *pMedia) {
  const struct sdp_format *pFormat = sdp_media_rformat(pMedia, nullptr);
  return pFormat ? pFormat->pt : -1;
}
}  // namespace

CWireMedia::~CWireMedia() {
  End();
  mem_deref(m_pMedia);
  mem_deref(m_pSdp);
  mem_deref(m_pRtp);
}

int CWireMedia::Open(const struct sa &laddr, uint16_t nBase, uint16_t nSpan) {
  tmr_init(&m_tmr);
  struct sa address = laddr;
  if (rtp_listen(&m_pRtp, IPPROTO_UDP, &address, nBase, static_cast<uint16_t>(nBase + nSpan), false, OnRtp,
                 nullptr, this) != 0)
    return KIROWIRE_ERR_STACK;
  if (sdp_session_alloc(&m_pSdp, &address) != 0 ||
      sdp_media_add(&m_pMedia, m_pSdp, sdp_media_audio, sa_port(rtp_local(m_pRtp)), sdp_proto_rtpavp) != 0 ||
      sdp_format_add(nullptr, m_pMedia, false, "0", "PCMU", 8000, 1, nullptr, nullptr, nullptr, false, nullptr) != 0 ||
      sdp_format_add(nullptr, m_pMedia, false, "8", "PCMA", 8000, 1, nullptr, nullptr, nullptr, false, nullptr) != 0 ||
      sdp_media_set_lattr(m_pMedia, true, sdp_attr_ptime, "20") != 0)
    return KIROWIRE_ERR_STACK;
  m_nNextTick = tmr_jiffies() + D_nFrameMs;
  tmr_start(&m_tmr, D_nFrameMs, OnTick, this);
  return 0;
}

int CWireMedia::Describe(struct mbuf **ppDesc, bool bOffer) {
  return sdp_encode(ppDesc, m_pSdp, bOffer) == 0 ? 0 : KIROWIRE_ERR_STACK;
}

int CWireMedia::Learn(struct mbuf *pDesc, bool bOffer) {
  if (!pDesc || mbuf_get_left(pDesc) == 0) return 0;
  return sdp_decode(m_pSdp, pDesc, bOffer) == 0 ? 0 : KIROWIRE_ERR_STACK;
}

int CWireMedia::Play(const char *szFile) {
  uint32_t nBytes = 0;
  FILE *pFile = WireOpenWavForPlay(szFile, &nBytes);
  if (!pFile) return KIROWIRE_ERR_BAD_FILE;
  StopPlay();
  m_pPlay = pFile;
  m_nPlayLeft = nBytes;
  m_bMarker = true;
  return 0;
}

void CWireMedia::StopPlay() {
  if (m_pPlay) fclose(m_pPlay);
  m_pPlay = nullptr;
  m_nPlayLeft = 0;
}

int CWireMedia::Record(const char *szFile) { return m_record.Open(szFile) ? 0 : KIROWIRE_ERR_BAD_FILE; }

void CWireMedia::End() {
  tmr_cancel(&m_tmr);
  StopPlay();
  m_record.Close();
}

void CWireMedia::OnTick(void *pArg) {
  CWireMedia &media = *static_cast<CWireMedia *>(pArg);
  uint64_t nNow = tmr_jiffies();
  // A stack that fell behind skips frames rather than sending a burst.
  while (media.m_nNextTick <= nNow) {
    media.SendFrame();
    media.m_nNextTick += D_nFrameMs;
    media.m_nTimestamp += D_nFrameSamples;
  }
  tmr_start(&media.m_tmr, media.m_nNextTick - nNow, OnTick, pArg);
}

void CWireMedia::SendFrame() {
  if (!m_pPlay) return;
  int16_t aSamples[D_nFrameSamples] = {0};
  uint32_t nWant = m_nPlayLeft < sizeof aSamples ? m_nPlayLeft : sizeof aSamples;
  size_t nGot = fread(aSamples, 1, nWant, m_pPlay);
  m_nPlayLeft -= static_cast<uint32_t>(nGot);
  bool bLast = nGot < sizeof aSamples || m_nPlayLeft == 0;
  int nPayload = AgreedPayload(m_pMedia);
  const struct sa *pRemote = sdp_media_raddr(m_pMedia);
  bool bSending = (sdp_media_dir(m_pMedia) & SDP_SENDONLY) && sa_isset(pRemote, SA_ALL);
  if (nGot > 0 && bSending && (nPayload == D_nPcmu || nPayload == D_nPcma)) {
    struct mbuf *pBuffer = mbuf_alloc(RTP_HEADER_SIZE + D_nFrameSamples);
    if (pBuffer) {
      pBuffer->pos = pBuffer->end = RTP_HEADER_SIZE;
      for (uint32_t i = 0; i < D_nFrameSamples; ++i)
        mbuf_write_u8(pBuffer, nPayload == D_nPcmu ? WireUlawEncode(aSamples[i]) : WireAlawEncode(aSamples[i]));
      pBuffer->pos = RTP_HEADER_SIZE;
      rtp_send(m_pRtp, pRemote, false, m_bMarker, static_cast<uint8_t>(nPayload), m_nTimestamp, pBuffer);
      m_bMarker = false;
      mem_deref(pBuffer);
    }
  }
  if (bLast) StopPlay();
}

void CWireMedia::OnRtp(const struct sa *, const struct rtp_header *pHeader, struct mbuf *pBuffer, void *pArg) {
  CWireMedia &media = *static_cast<CWireMedia *>(pArg);
  if (!media.m_record.IsOpen() || (pHeader->pt != D_nPcmu && pHeader->pt != D_nPcma)) return;
  int16_t aSamples[512];
  size_t nSamples = mbuf_get_left(pBuffer);
  if (nSamples > 512) nSamples = 512;
  const uint8_t *pPayload = mbuf_buf(pBuffer);
  for (size_t i = 0; i < nSamples; ++i)
    aSamples[i] = pHeader->pt == D_nPcmu ? WireUlawDecode(pPayload[i]) : WireAlawDecode(pPayload[i]);
  media.m_record.Write(aSamples, nSamples);
}
