#include "base/metrics.h"

MetricsRecord Metrics;
