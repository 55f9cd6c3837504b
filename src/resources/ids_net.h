#pragma once
// Update check: its messages and the product's web page
#define IDS_NEWVERSION 1470
#define IDS_CURRENTVERSION 1475
#define IDS_PRODUCTPAGE 1480
