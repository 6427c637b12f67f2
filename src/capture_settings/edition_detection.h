#pragma once

#include <QString>

// What the SOFTWARE hive of a Windows installation says about its edition.
// A value counts as read only when it exists, holds a string and fits the
// 260-character buffer the values have always been read into.
struct EditionValues {
    bool productNameRead = false;
    QString productName;
    bool editionIdRead = false;
    QString editionId;
    QString buildNumber;  // digits only; empty when missing or malformed
};

// Reads ProductName, EditionID and CurrentBuildNumber (or CurrentBuild) under
// "Microsoft\Windows NT\CurrentVersion" of the hive file at `hivePath`, names
// in any letter case. The file is opened read-only; a missing, damaged or
// foreign file reads nothing. Safe on any thread.
EditionValues ReadEditionValues(const QString &hivePath);

// Windows 11 still stores a product name beginning "Windows 10": from build
// 22000 on, that prefix reads "Windows 11" and the rest stays.
QString CorrectedProductName(const QString &productName, const QString &buildNumber);

// The edition of the installation under `capturePath` (its
// Windows/System32/config/SOFTWARE hive), with the product name corrected.
// Blocks on file reads; meant for a worker thread.
EditionValues DetectEdition(const QString &capturePath);
