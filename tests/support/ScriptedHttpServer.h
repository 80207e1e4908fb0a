#pragma once
// placeholder, to be written
