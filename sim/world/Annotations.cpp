#include "sim/world/Annotations.h"

#include <cstdio>
#include <ostream>

namespace vtal::sim {

Annotation &Annotations::Create(bool exclusive, double size, double time) {
    auto a = std::make_unique<Annotation>();
    a->exclusive = exclusive;
    a->size = size;
    a->createdAt = time;
    all_.push_back(std::move(a));
    return *all_.back();
}

Annotation *Annotations::Find(const void *handle) const {
    for (const auto &a : all_)
        if (a.get() == handle && !a->deleted) return a.get();
    return nullptr;
}

void Annotations::SetText(Annotation &a, const std::string &text, double time) {
    a.text = text;
    Log(time, "annotation: ", a.text);
}

void Annotations::Delete(Annotation &a, double time) {
    a.deleted = true;
    a.deletedAt = time;
    Log(time, "annotation removed: ", a.text);
}

void Annotations::Log(double time, const char *what, const std::string &text) {
    if (!log_) return;
    char when[48];
    std::snprintf(when, sizeof when, "[t=%9.3f s] ", time);
    *log_ << when << what << text << "\n";
}

}  // namespace vtal::sim
