#include "widgets/mask_edit.h"
