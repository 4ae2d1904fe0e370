// The host's annotations: text a module puts on the screen, kept with the
// times they appear and go, and told to the run's log as they change.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "sim/base/SimMath.h"

namespace vtal::sim {

struct Annotation {
    bool exclusive = false;
    double size = 1.0;
    Vec3 colour = Vec3::Ones();
    double box[4] = {0.0, 0.0, 1.0, 1.0};  // left, top, right, bottom, fractions of the window
    std::string text;
    double createdAt = 0.0;
    bool deleted = false;
    double deletedAt = 0.0;
};

class Annotations {
public:
    explicit Annotations(std::ostream *log) : log_(log) {}

    // Handles are the records' addresses, which stay put for the run.
    Annotation &Create(bool exclusive, double size, double time);
    // The live annotation of a handle, or null (unknown or deleted).
    Annotation *Find(const void *handle) const;
    void SetText(Annotation &a, const std::string &text, double time);
    void Delete(Annotation &a, double time);
    const std::vector<std::unique_ptr<Annotation>> &All() const { return all_; }

private:
    void Log(double time, const char *what, const std::string &text);

    std::ostream *log_;  // null: silent
    std::vector<std::unique_ptr<Annotation>> all_;
};

}  // namespace vtal::sim
