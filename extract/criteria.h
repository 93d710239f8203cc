// Extraction criteria: the twenty entries of the criteria list and their tests.
#pragma once
