// Records a surface's drawing operations so that tests can count and inspect them.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "graphics/surface.h"

struct TracedOp {
  std::string op;
  std::vector<double> args;
  std::string text;
  int pen;
  forms::OleColor color;
  int mode;
};

class TraceRecorder final : public forms::TraceSink {
 public:
  void trace(std::string_view op, std::span<const double> args, std::string_view text, int pen, forms::OleColor color,
             int mode) override {
    ops.push_back({std::string(op), {args.begin(), args.end()}, std::string(text), pen, color, mode});
  }
  std::vector<TracedOp> of(const std::string& op) const {
    std::vector<TracedOp> out;
    std::copy_if(ops.begin(), ops.end(), std::back_inserter(out), [&](const TracedOp& o) { return o.op == op; });
    return out;
  }
  // The face's figures of one kind: those drawn before the first hand (a line).
  std::vector<TracedOp> face(const std::string& op) const {
    std::vector<TracedOp> out;
    for (const TracedOp& o : ops) {
      if (o.op == "line") break;
      if (o.op == op) out.push_back(o);
    }
    return out;
  }
  std::vector<TracedOp> ops;
};
