// The whole platform seam in one include.
#pragma once

#include "qio/platform/clock.h"
#include "qio/platform/device_manager.h"
#include "qio/platform/errors.h"
#include "qio/platform/interrupts.h"
#include "qio/platform/kernel.h"
#include "qio/platform/port_io.h"
#include "qio/platform/registry.h"
