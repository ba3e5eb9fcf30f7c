# The plug-ins, one row each. Everything that tells them apart comes from this
# table: each one's values source (variants/VariantValues.cpp.in), its bundle
# and manifest, its LV2 bundle, the lists the tests and the install checks
# walk, and the aggregate targets qelvo_native_plugins and qelvo_plugins.
#
# Columns: the name (bundle name, display name, and the bundle identifier
# org.qelvo.audiounit.<name>); the component subtype hosts find it under; the
# variant index (0..7 follow bands 1..8, above 9 a peak: 10 left, 11 right);
# the ID of its frequency-response property, which no other row may share.
#
#                 name              subtype  variant  response property
qelvo_deliverable(AUQelvoBS1        Qbs1     0        67802)
qelvo_deliverable(AUQelvoBS2        Qbs2     1        67803)
qelvo_deliverable(AUQelvoBS3        Qbs3     2        67804)
qelvo_deliverable(AUQelvoBS4        Qbs4     3        67805)
qelvo_deliverable(AUQelvoBS5        Qbs5     4        67806)
qelvo_deliverable(AUQelvoBS6        Qbs6     5        67807)
qelvo_deliverable(AUQelvoBS7        Qbs7     6        67808)
qelvo_deliverable(AUQelvoBS8        Qbs8     7        67809)
qelvo_deliverable(AUQelvoPeakLeft   QpkL     10       67800)
qelvo_deliverable(AUQelvoPeakRight  QpkR     11       67801)
