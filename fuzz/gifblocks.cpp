// GIF data as the animated picture control walks it: the blocks from
// wherever the data says its colour table ends, the one-frame GIFs made of
// them, and a whole load, whose pictures go through the picture loader.
#include "Windows/WindowsNT/ConfigPlugins/WirelessPlugin/ConfigWizard/PictureEx.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class Walker : public CPictureEx {
public:
    void Walk(const std::uint8_t* data, std::size_t size) {
        m_pRawData = data;
        m_nDataSize = static_cast<UINT>(size);
        m_nGlobalCTSize = size > 10 && (data[10] & 0x80) ? 3u << ((data[10] & 7) + 1) : 0;
        if (13 + m_nGlobalCTSize > size) return;
        ResetDataPointer();
        for (int frames = 0; frames < 64; ++frames) {
            const UINT before = m_nCurrOffset;
            UINT length = 0, disposal = 0;
            int delay = 0;
            SIZE frameSize, offset;
            auto single = GetNextGraphicBlock(&length, &delay, &frameSize, &offset, &disposal);
            if (!single) break;
            // A frame is the header, blocks that lie in the data, and a trailer.
            if (m_nCurrOffset <= before || m_nCurrOffset > size ||
                length > 13 + m_nGlobalCTSize + (m_nCurrOffset - before) + 1 || disposal > 7)
                std::abort();
        }
        m_pRawData = nullptr;
        m_nDataSize = 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Walker picture;
    picture.Walk(data, size);
    Platform::GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, size));
    if (size > 0) std::memcpy(GlobalLock(memory.get()), data, size);
    GlobalUnlock(memory.get());
    // No window: the load fails at the end, after every frame was read.
    picture.Load(memory.get(), static_cast<DWORD>(size));
    return 0;
}
