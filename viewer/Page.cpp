// Layout of a page in slices; see Page.h.
#include "viewer/Page.h"

bool layoutPageUntil(Page& page, Canvas& canvas, std::chrono::steady_clock::time_point deadline) {
    if (page.model && page.model->kind != ModelDiv) {
        page.scene = page.model->layout(canvas);
        page.model.reset();
    } else if (page.model) {
        auto& block = static_cast<MDiv&>(*page.model);
        if (!page.layoutProgress)
            page.layoutProgress = std::make_unique<MDiv::Progress>(block.BeginLayout());
        while (block.LayoutNext(*page.layoutProgress, canvas)) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
        }
        page.scene = block.FinishLayout(*page.layoutProgress);
        page.layoutProgress.reset();
        page.model.reset();
    }
    if (page.overlayModel) {
        page.overlayScene = page.overlayModel->layout(canvas);
        page.overlayModel.reset();
    }
    return true;
}
