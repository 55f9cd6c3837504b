#pragma once
// Options dialog 930
#define IDD_OPTIONS 930
