#include "config/MonitorMetadata.h"

MonitorMetadata::~MonitorMetadata() = default;
