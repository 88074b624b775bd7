#pragma once
// The interface of the spy's pages: the page interface shared with the
// control panel, plus the two operations of the statistics pages.

#include "device-access/orvane_statistics.h"
#include "forms/form_base.h"

class SpyFormBase : public FormBase {
 public:
  virtual bool isStatisticsForm() { return false; }
  // Re-formats the page's rows from the frame's copy of the record.
  virtual void updateStatistics(const ORVANE_STATISTICS& record) { (void)record; }

 protected:
  ~SpyFormBase() = default;
};
