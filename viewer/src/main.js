// The pages of vtal-sim: one page, two sources of what it shows. The data
// slot holds either a run's record (the replay: sim/view/ViewRecorder) or
// {"live": true} (a live session: the states come over the session's
// WebSocket). Both draw with the same scene, instruments, head-up legend
// and annotations, and work without WebGL, only without the 3-D view.
import { startReplay } from './replay.js';
import { startLive } from './session.js';

// Marks of the opening (record decoded, scene built, first frame
// submitted), read by the page's benchmark.
performance.mark('vtal:script');
const data = JSON.parse(document.getElementById('vtal-record').textContent);
if (data.live) startLive();
else startReplay(data);
