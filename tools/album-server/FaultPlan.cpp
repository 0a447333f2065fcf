// SPDX-License-Identifier: Apache-2.0
#include "FaultPlan.h"

namespace {

std::string PhotoId(const std::string& key, int photo)
{
    return key + "/" + std::to_string(photo);
}

}  // namespace

FaultPlan::FaultPlan(const std::vector<PhotoFault>& faults, const std::vector<PhotoDelay>& delays)
{
    for (const PhotoFault& f : faults)
        faults_[PhotoId(f.key, f.photo)] = {f, 0};
    for (const PhotoDelay& d : delays)
        delays_[PhotoId(d.key, d.photo)] = d.delay;
}

std::optional<FaultKind> FaultPlan::Take(const std::string& key, int photo)
{
    std::lock_guard lock(mutex_);
    const auto it = faults_.find(PhotoId(key, photo));
    if (it == faults_.end())
        return std::nullopt;
    Planned& p = it->second;
    if (p.fault.count != PhotoFault::kAlways && p.served >= p.fault.count)
        return std::nullopt;
    ++p.served;
    return p.fault.kind;
}

std::chrono::milliseconds FaultPlan::DelayOf(const std::string& key, int photo) const
{
    const auto it = delays_.find(PhotoId(key, photo));
    return it == delays_.end() ? std::chrono::milliseconds(0) : it->second;
}

void FaultPlan::Reset()
{
    std::lock_guard lock(mutex_);
    for (auto& [id, p] : faults_)
        p.served = 0;
}
