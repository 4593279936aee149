#include "widgets/db_edit.h"
