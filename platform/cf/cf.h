/* The property-list object layer, all families in one include. */
#ifndef TOLVAN_PLATFORM_CF_CF_H
#define TOLVAN_PLATFORM_CF_CF_H

#include "platform/cf/cf_array.h"
#include "platform/cf/cf_base.h"
#include "platform/cf/cf_data.h"
#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_number.h"
#include "platform/cf/cf_property_list.h"
#include "platform/cf/cf_string.h"

#endif
