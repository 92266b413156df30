#pragma once

#include <filesystem>

namespace ni {

// Receives the folder dropped on the drop view.
class NIDragViewDelegate {
public:
    virtual ~NIDragViewDelegate() = default;
    virtual void dragViewDidReceiveURL(const std::filesystem::path& url) = 0;
};

}  // namespace ni
